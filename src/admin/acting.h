#pragma once

#include "db/accounts/accounts.h"

#include <QString>
#include <functional>

namespace jet {
class Connection;
}

namespace admin {

// The account logged in, read anew from the database, which the windows of
// this folder act as.  Throws jet::Error(err::NotSupported) with the reason
// the opener shows when nobody is logged in or the database has no accounts.
accounts::Account actingAccount(jet::Connection &connection, const accounts::StaffAccounts &staff);

// Runs one change to the accounts under a trap.  A refusal, or input that
// breaks a rule, is shown with its reason and the window goes on: false then.
bool attempt(const std::function<void()> &change);
// The box of such a refusal.
void refuse(const QString &reason);

// Opens one of this folder's windows modally.  A load refused with a reason
// (err::NotSupported) shows the reason, and nothing opens.
void openModal(const QString &window);

// The start menu's 「職員アカウントの管理」.
void openAccounts();
// One's own second factor, for the account logged in.
void openCodeEnrolment();

} // namespace admin
