#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace accounts {

// The jobs of the ward's staff; an account has one.  Stored by name.
enum class Role { Administrator, Physician, Nurse, SocialWorker, Clerk };

// What an account may do, granted to roles in the rights table.
enum class Right {
    ViewRecords,
    EditRecords,
    RegisterEpisodes, // register and delete admissions and outpatient courses
    Certificates,     // edit and print certificates
    PrintDocuments,
    Export,
    Statistics,
    Options,     // code tables and hospital data
    Maintenance, // compaction, upgrades, backups from the program
    Accounts,
    Audit,
};

QList<Role> allRoles();
QList<Right> allRights();

// The names the rights table stores and the windows show.
QString roleName(Role role);
QString rightName(Right right);
std::optional<Role> roleNamed(const QString &name);
std::optional<Right> rightNamed(const QString &name);

// What a new database grants each role, until an administrator changes it
// (the manual gives the reasons).
bool allowedByDefault(Role role, Right right);

} // namespace accounts
