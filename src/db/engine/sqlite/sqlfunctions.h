#pragma once

// The Jet functions that translated SQL calls, as SQLite user functions.

struct sqlite3;

namespace jet::sql {

// Registers them on a handle; every handle of the engine has them.
void registerFunctions(sqlite3 *db);

} // namespace jet::sql
