// SPDX-License-Identifier: MIT
#include "safefile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace {

// A file descriptor, closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    operator int() const { return fd; }

private:
    int fd;
};

// Where a path leads, symbolic links resolved: a directory and the name in
// it of the file itself.
struct Place {
    QByteArray directory;
    QByteArray name;
};

enum class Replaced { Yes, NotAllowed, Failed };

} // namespace

// More privilege than the user who started the program: set-user or
// set-group id, or capabilities held by a user other than root.
static bool runsPrivileged()
{
    if (getuid() != geteuid() || getgid() != getegid())
        return true;
    if (geteuid() == 0)
        return false;
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capget, &header, caps) != 0 || caps[0].effective != 0 || caps[1].effective != 0;
}

// The target of the link `link` names, when the rules follow it; else empty.
static QByteArray followed(const QByteArray &link, const struct stat &linkStat, Links links)
{
    if (links == Links::Refused || runsPrivileged())
        return QByteArray();
    char *resolved = realpath(link.constData(), nullptr);
    QByteArray target(resolved);
    free(resolved);
    struct stat st = {};
    if (target.isEmpty() || stat(target.constData(), &st) != 0 || st.st_uid != linkStat.st_uid)
        return QByteArray();
    return target;
}

static FileStatus resolve(const QString &path, Links links, Place &place)
{
    QByteArray file = QFile::encodeName(path);
    struct stat link = {};
    if (lstat(file.constData(), &link) != 0 && errno != ENOENT)
        return FileStatus::CannotOpen;
    if (S_ISLNK(link.st_mode)) {
        file = followed(file, link, links);
        if (file.isEmpty())
            return FileStatus::NotFollowed;
    }
    const qsizetype slash = file.lastIndexOf('/');
    place.directory = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : file.left(slash);
    place.name = file.mid(slash + 1);
    // A name that ends in a slash names a directory.
    return place.name.isEmpty() ? FileStatus::NotRegular : FileStatus::Ok;
}

// Looks at what `name` is before it is opened, so that no pipe or device is
// ever opened: Ok for a regular file within the limit (`st` then holds it).
static FileStatus examine(int dir, const QByteArray &name, qint64 limit, struct stat &st)
{
    if (fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FileStatus::Missing : FileStatus::CannotOpen;
    if (S_ISLNK(st.st_mode))  // made a link since it was resolved
        return FileStatus::NotFollowed;
    if (!S_ISREG(st.st_mode))
        return FileStatus::NotRegular;
    return st.st_size > limit ? FileStatus::TooLarge : FileStatus::Ok;
}

// Reads at most `size` bytes; -1 on an error.
static qsizetype readUpTo(int fd, char *buffer, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

static FileText readAt(int dir, const QByteArray &name, qint64 limit, struct stat &st)
{
    const FileStatus status = examine(dir, name, limit, st);
    if (status != FileStatus::Ok)
        return {status, {}};
    const Descriptor fd(openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0 || fstat(fd, &st) != 0)
        return {FileStatus::CannotOpen, {}};
    if (!S_ISREG(st.st_mode))
        return {FileStatus::NotRegular, {}};
    QByteArray bytes(limit + 1, Qt::Uninitialized);  // one more, to see a file grown too large
    const qsizetype size = readUpTo(fd, bytes.data(), bytes.size());
    if (size < 0)
        return {FileStatus::CannotRead, {}};
    if (size > limit)
        return {FileStatus::TooLarge, {}};
    bytes.truncate(size);
    return {FileStatus::Ok, bytes};
}

FileText readSafeFile(const QString &path, const FileRules &rules)
{
    Place place;
    const FileStatus status = resolve(path, rules.links, place);
    if (status != FileStatus::Ok)
        return {status, {}};
    const Descriptor dir(open(place.directory.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir < 0)
        return {errno == ENOENT ? FileStatus::Missing : FileStatus::CannotOpen, {}};
    struct stat st = {};
    return readAt(dir, place.name, rules.limit, st);
}

bool writeFully(int fd, const QByteArray &bytes, off_t offset, PositionalWrite write)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

static Replaced failure(int error)
{
    return error == EACCES || error == EPERM || error == EROFS ? Replaced::NotAllowed : Replaced::Failed;
}

// A new file in the directory, nameless where the file system allows it, so
// that a save cut short leaves nothing behind; else named `temporary`.
static int createTemporary(int dir, const QByteArray &temporary, mode_t mode, bool &named)
{
    const int fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    named = fd < 0 && errno == EOPNOTSUPP;
    if (!named)
        return fd;
    return openat(dir, temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode);
}

// Gives the temporary file its name, if it has none yet, and renames it over
// `name`: the old file stays whole until the rename.
static bool moveIntoPlace(int dir, int fd, bool named, const QByteArray &temporary, const QByteArray &name)
{
    if (!named) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (linkat(AT_FDCWD, self.constData(), dir, temporary.constData(), AT_SYMLINK_FOLLOW) != 0)
            return false;
    }
    if (renameat(dir, temporary.constData(), dir, name.constData()) == 0)
        return true;
    const int error = errno;
    unlinkat(dir, temporary.constData(), 0);
    errno = error;
    return false;
}

// Writes a new file, created with the old one's mode (so never readable by
// more than the old one) and given its owner and group, and renames it over
// the old one.  NotAllowed: the directory takes no new file, or the owner
// could not be kept.
static Replaced replaceFile(int dir, const QByteArray &name, const struct stat *old, const QByteArray &bytes)
{
    // Left only by a save killed between naming its file and the rename.
    const QByteArray temporary = name + ".new";
    unlinkat(dir, temporary.constData(), 0);
    bool named = false;
    const mode_t mode = old ? old->st_mode & 07777 : 0666;
    const Descriptor fd(createTemporary(dir, temporary, mode, named));
    if (fd < 0)
        return failure(errno);
    int error = 0;
    // fchmod after fchown: the umask may have narrowed the mode, and a
    // change of owner drops the set-id bits.
    if (old && (fchown(fd, old->st_uid, old->st_gid) != 0 || fchmod(fd, mode) != 0))
        error = EPERM;
    else if (!writeFully(fd, bytes, 0) || fsync(fd) != 0 || !moveIntoPlace(dir, fd, named, temporary, name))
        error = errno;
    else
        return Replaced::Yes;
    if (named)
        unlinkat(dir, temporary.constData(), 0);
    return failure(error);
}

// Where no file can be made in the directory (or not with the old owner) but
// the file itself is writable, the user has let the program change this file
// and no other: it is rewritten where it is.  Not atomic: a save cut short
// between the write and the truncation leaves the end of a longer old text.
static bool writeInPlace(int dir, const QByteArray &name, const struct stat &old, const QByteArray &bytes)
{
    const Descriptor fd(openat(dir, name.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st = {};
    return fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == old.st_dev && st.st_ino == old.st_ino
           && writeFully(fd, bytes, 0) && ftruncate(fd, bytes.size()) == 0 && fsync(fd) == 0;
}

// The directory's lock, held until `dir` is closed.
static bool lockDirectory(int dir)
{
    int result;
    do
        result = flock(dir, LOCK_EX);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

static FileStatus store(int dir, const QByteArray &name, const struct stat *old, const QByteArray &bytes)
{
    const Replaced replaced = replaceFile(dir, name, old, bytes);
    if (replaced == Replaced::Yes) {
        // Makes the rename durable.  The new file is in place by now, so a
        // failure here is no failed save.
        fsync(dir);
        return FileStatus::Ok;
    }
    if (replaced == Replaced::NotAllowed && old && writeInPlace(dir, name, *old, bytes))
        return FileStatus::Ok;
    return FileStatus::CannotWrite;
}

// Under the directory's lock: the old file checked (and read, for
// `readsOld`) and replaced by what `change` makes of it.
static FileStatus save(const QString &path, const FileRules &rules, bool readsOld,
                       const std::function<QByteArray(const QByteArray &old)> &change)
{
    Place place;
    const FileStatus located = resolve(path, rules.links, place);
    if (located != FileStatus::Ok)
        return located;
    const Descriptor dir(open(place.directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir < 0 || !lockDirectory(dir))
        return FileStatus::CannotLock;
    struct stat old = {};
    const FileText text = readsOld ? readAt(dir, place.name, rules.limit, old)
                                   : FileText{examine(dir, place.name, rules.limit, old), {}};
    if (text.status != FileStatus::Ok && text.status != FileStatus::Missing)
        return text.status;
    const bool exists = text.status == FileStatus::Ok;
    // A read-only file stays as it is, though its directory would let it be replaced.
    if (exists && faccessat(dir, place.name.constData(), W_OK, AT_EACCESS) != 0)
        return FileStatus::CannotWrite;
    return store(dir, place.name, exists ? &old : nullptr, change(text.bytes));
}

FileStatus writeSafeFile(const QString &path, const FileRules &rules, const QByteArray &bytes)
{
    return save(path, rules, false, [&](const QByteArray &) { return bytes; });
}

FileStatus updateSafeFile(const QString &path, const FileRules &rules,
                          const std::function<QByteArray(const QByteArray &old)> &change)
{
    return save(path, rules, true, change);
}
