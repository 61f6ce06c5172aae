// SPDX-License-Identifier: MIT
// Files that users keep beside the settings file.  A file is read whole, up
// to a limit, and only when it is a regular file.  A save replaces it by a
// new file with its owner, group and mode, flushed to disk before and after
// the rename, and takes its turn with every other save in the directory
// through a lock on the directory, which, unlike its files, is never
// replaced.
#ifndef SAFEFILE_H
#define SAFEFILE_H

#include <QByteArray>
#include <QString>

#include <functional>

#include <sys/types.h>
#include <unistd.h>

// Which symbolic links a file's name may be.
enum class Links {
    Refused,
    // One whose owner owns its target, while the program runs with no more
    // privilege than its user: what the kernel's protected_symlinks would
    // follow in a shared directory.
    OwnersOnly,
};

struct FileRules {
    qint64 limit;  // the largest file read or replaced, in bytes
    Links links;
};

enum class FileStatus {
    Ok,
    Missing,  // no such file: read as empty, a save creates it
    // Refused: never opened, never replaced.
    NotFollowed,  // a symbolic link the rules do not follow
    NotRegular,   // a directory, FIFO, device ...
    TooLarge,     // over the rules' limit
    // Failed.
    CannotOpen,
    CannotRead,
    CannotLock,  // the directory cannot be opened or locked
    CannotWrite,
};

struct FileText {
    FileStatus status;
    QByteArray bytes;  // empty unless Ok
};

FileText readSafeFile(const QString &path, const FileRules &rules);

// Replaces the file by `bytes`; where the directory takes no new file, or
// the owner cannot be kept, but the file itself is writable, it is
// rewritten in place.  A read-only file is never replaced.
FileStatus writeSafeFile(const QString &path, const FileRules &rules, const QByteArray &bytes);

// As writeSafeFile, with the bytes that `change` makes of what the file
// holds (empty when missing), read under the same lock: no save of another
// program comes between.
FileStatus updateSafeFile(const QString &path, const FileRules &rules,
                          const std::function<QByteArray(const QByteArray &old)> &change);

// Writes all of `bytes` at `offset`, retrying after a signal; false on an
// error or when `write` takes no byte.
using PositionalWrite = ssize_t (*)(int fd, const void *buffer, size_t size, off_t offset);
bool writeFully(int fd, const QByteArray &bytes, off_t offset, PositionalWrite write = pwrite);

#endif // SAFEFILE_H
