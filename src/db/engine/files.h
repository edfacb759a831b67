#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace jet {

// Gives a file this process has just made the access a new file has in its
// folder: its owner's alone (0600), or, in a folder a hospital has set up for
// a group -- the folder's set-group-ID bit on and its group not the user's
// own personal group (the one named as he is) -- also that group's, as far as
// the folder's group may read and write there.  Never anyone else's.  Works
// by name, so that it may follow SQLite's creation of a database without a
// descriptor of ours on the file.
// Throws Error(err::GeneralFailure) naming the file and the cause.
void restrictNewFile(const QString &path);

// While one lives, files and folders are made for their owner alone (umask
// 077): a file that a library makes by itself -- SQLite a database, which
// it makes with mode 0644 -- is never open to anyone else before
// restrictNewFile() gives it its folder's access.  The umask is the
// process's: a file another thread makes meanwhile is only more private, and
// the holders take turns, so that each gives back the umask it found.
class PrivateCreation
{
public:
    PrivateCreation();
    ~PrivateCreation();
    PrivateCreation(const PrivateCreation &) = delete;
    PrivateCreation &operator=(const PrivateCreation &) = delete;

private:
    mode_t m_before;
};

// Gives `file`, which is to replace `replaced`, that file's group and mode,
// and its owner where this process may, so that a shared file stays open to
// the users it was open to.  Throws Error(err::GeneralFailure) naming the
// cause when the group cannot be kept.
void keepAttributes(const QString &file, const QString &replaced);

// A new file beside `target` under a hidden name (".name.XXXXXX") with the
// access restrictNewFile() gives, which takes the target's name only once it
// is complete and is removed otherwise.  It stays locked while this object
// lives, so that removeLeftovers() tells a file being written from one that a
// killed process left.
class PartialFile
{
public:
    explicit PartialFile(const QString &target);
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    bool created() const { return !m_name.isEmpty(); }
    // The errno of the failure to make the file.
    int error() const { return m_error; }
    QString name() const { return QFile::decodeName(m_name); }

    // Gives the synced file the target's name; a link there is replaced, never
    // followed.  A file replaced lends the new one its owner where this
    // process may give it, its group and its mode.  Without `replace` an
    // existing target is left alone, even one that appeared while the file
    // was written.  The errno of a failure, else 0.
    int place(bool replace);

private:
    QByteArray m_folder;
    QByteArray m_target;
    QByteArray m_name;
    int m_fd = -1;
    int m_error = 0;
};

// Removes the partial files of `target` that killed writes left beside it,
// passing over those a write still holds.  Returns a line for each file that
// could not be removed, naming it and the cause.
QStringList removeLeftovers(const QString &target);

} // namespace jet
