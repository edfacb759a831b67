#pragma once

#include "db/accounts/rights.h"

#include <QList>
#include <QString>
#include <optional>

namespace db {
struct SessionRights;
}
namespace toolkit {
class Form;
}

namespace app {

// A menu item or button, by its window's and its own object name, and the
// right its action needs.
struct ControlRight
{
    QString window;
    QString control;
    accounts::Right right;
};
const QList<ControlRight> &controlRights();

// The right a window needs to open at all; none for most.
std::optional<accounts::Right> rightToOpen(const QString &window);

// Disables the window's items and buttons whose right is not held, and
// keeps them disabled whatever the window's own code enables later; gives
// back those of a right now held.
void applyRights(toolkit::Form &window, const db::SessionRights &rights);
// The same for the session's rights, read anew; every window opening hears
// it, and a window left loaded across a change of user is given it again.
void applySessionRights(toolkit::Form &window);

// Installs the opening gate: a window that needs a right the session lacks
// (rightToOpen) does not open, and the user is told which right it needs.
void guardWindowsByRights();

} // namespace app
