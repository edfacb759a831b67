#pragma once

#include "db/accounts/rights.h"

#include <QList>
#include <QString>
#include <cstdint>

namespace jet {
class Connection;
}

struct DemoOptions
{
    int patients = 1000;
    std::uint64_t seed = 1;
    bool certificateRecords = true; // today's certificates, in the extension's tables
    bool accounts = true;           // one staff account per role
};

// A demo account and its published password, which norva-db prints and the
// README lists, so that a newcomer logs in at once.
struct DemoAccount
{
    QString loginId;
    QString displayName;
    accounts::Role role;
    QString password;
};

struct DemoSummary
{
    int patients = 0;
    int episodes = 0;
    int inpatients = 0;        // current in-patients today
    int outpatientCourses = 0;
    int certificates = 0;
    int certificateRecords = 0; // today's certificates issued, corrections included
    QList<DemoAccount> accounts;
};

// Fills a new, empty 2.112 database with a fictional hospital: its code
// tables, patients and episodes, the certificate records with their tables,
// and the staff accounts.  The same options give the same rows on the
// same day; every date is counted back from the engine's today.
DemoSummary fillDemoDatabase(jet::Connection &connection, const DemoOptions &options);
