#pragma once

#include <cstdint>

namespace jet {
class Connection;
}

struct DemoOptions
{
    int patients = 1000;
    std::uint64_t seed = 1;
    bool certificateRecords = true; // today's certificates, in the extension's tables
};

struct DemoSummary
{
    int patients = 0;
    int episodes = 0;
    int inpatients = 0;        // current in-patients today
    int outpatientCourses = 0;
    int certificates = 0;
    int certificateRecords = 0; // today's certificates issued, corrections included
};

// Fills a new, empty 2.112 database with a fictional hospital: its code
// tables, patients and episodes, and the certificate records with their tables.  The same options give the same rows on the
// same day; every date is counted back from the engine's today.
DemoSummary fillDemoDatabase(jet::Connection &connection, const DemoOptions &options);
