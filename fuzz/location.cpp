// The location file is whatever the user or an installer left beside the
// executable, in any encoding.  It is written afresh for every input into
// one temporary folder, since the reader takes a folder.
#include "db/engine/error.h"
#include "db/location.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir folder;
    QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    try {
        const QString path = db::readDatabasePath(folder.path());
        // The path is the first line's first field: no line end may survive in it.
        if (path.contains(u'\r') || path.contains(u'\n'))
            std::abort();
    } catch (const jet::Error &) {
    }
    return 0;
}
