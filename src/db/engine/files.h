#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace jet {

// Gives a file this process has just made the access its folder calls for:
// its owner's alone, unless the folder is one set up for a group (writable by
// its group), where the file takes the folder's group and that group may read
// and write it, as it may the folder.  A file the folder's group cannot be
// given stays its owner's alone.  Works by name, so that it may follow
// SQLite's creation of a database without a descriptor of ours on the file.
// Throws Error(err::GeneralFailure) naming the file and the cause.
void restrictNewFile(const QString &path);

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
    // followed.  Without `replace` an existing target is left alone, even one
    // that appeared while the file was written.  The errno of a failure, else 0.
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
