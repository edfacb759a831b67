#include "killswitch.h"

#include <csignal>
#include <sqlite3.h>
#include <unistd.h>

namespace {

// A file system layer over SQLite's own that ends the process, as a power cut
// would, at the chosen write, sync or truncation of any of the database's files.
long g_remaining = 0;
sqlite3_vfs *g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

struct File
{
    sqlite3_file base;
    sqlite3_file *real;
};

sqlite3_file *real(sqlite3_file *file)
{
    return reinterpret_cast<File *>(file)->real;
}

void step()
{
    if (g_remaining > 0 && --g_remaining == 0)
        ::kill(::getpid(), SIGKILL);
}

int xClose(sqlite3_file *f)
{
    return real(f)->pMethods->xClose(real(f));
}
int xRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int xWrite(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset)
{
    step();
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    step();
    return real(f)->pMethods->xTruncate(real(f), size);
}
int xSync(sqlite3_file *f, int flags)
{
    step();
    return real(f)->pMethods->xSync(real(f), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return real(f)->pMethods->xFileSize(real(f), size);
}
int xLock(sqlite3_file *f, int level)
{
    return real(f)->pMethods->xLock(real(f), level);
}
int xUnlock(sqlite3_file *f, int level)
{
    return real(f)->pMethods->xUnlock(real(f), level);
}
int xCheckReservedLock(sqlite3_file *f, int *out)
{
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int xSectorSize(sqlite3_file *f)
{
    return real(f)->pMethods->xSectorSize(real(f));
}
int xDeviceCharacteristics(sqlite3_file *f)
{
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int xShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
int xShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file *f)
{
    step();
    real(f)->pMethods->xShmBarrier(real(f));
}
int xShmUnmap(sqlite3_file *f, int deleteFlag)
{
    return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
}
int xFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
}
int xUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    return real(f)->pMethods->xUnfetch(real(f), offset, p);
}

int xOpen(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *wrapper = reinterpret_cast<File *>(file);
    wrapper->real = reinterpret_cast<sqlite3_file *>(wrapper + 1);
    const int rc = g_real->xOpen(g_real, name, wrapper->real, flags, outFlags);
    file->pMethods = wrapper->real->pMethods ? &g_methods : nullptr;
    return rc;
}
int xDelete(sqlite3_vfs *, const char *name, int syncDir)
{
    step();
    return g_real->xDelete(g_real, name, syncDir);
}
int xAccess(sqlite3_vfs *, const char *name, int flags, int *out)
{
    return g_real->xAccess(g_real, name, flags, out);
}
int xFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    return g_real->xFullPathname(g_real, name, size, out);
}

} // namespace

void installKillSwitch(long operations)
{
    g_remaining = operations;
    g_real = sqlite3_vfs_find(nullptr);
    g_methods = {3,         xClose,      xRead,       xWrite,   xTruncate,          xSync,
                 xFileSize, xLock,       xUnlock,     xCheckReservedLock, xFileControl, xSectorSize,
                 xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier, xShmUnmap, xFetch, xUnfetch};
    g_vfs = *g_real;
    g_vfs.zName = "killswitch";
    g_vfs.szOsFile = int(sizeof(File)) + g_real->szOsFile;
    g_vfs.xOpen = xOpen;
    g_vfs.xDelete = xDelete;
    g_vfs.xAccess = xAccess;
    g_vfs.xFullPathname = xFullPathname;
    g_vfs.pAppData = nullptr;
    sqlite3_vfs_register(&g_vfs, 1);
}
