// Stored queries come from the database file, so any text may reach the
// translator; it must either translate or refuse with the engine's error.
#include "db/engine/error.h"
#include "db/engine/jetsql.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const jet::Dialect dialect : {jet::Dialect::Sqlite, jet::Dialect::Postgres}) {
        try {
            jet::sql::translate(text, dialect);
        } catch (const jet::Error &) {
        }
    }
    return 0;
}
