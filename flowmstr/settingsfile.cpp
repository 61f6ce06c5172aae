#include "settingsfile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static const QString settingsSection = QStringLiteral("settings");

static SettingsFileError fileError(const char *what, const QString &path)
{
    return SettingsFileError(what + path.toStdString());
}

// Why a file is refused, after "Die Einstellungsdatei NAME".
static const char NotFollowed[] = " ist ein symbolischer Link, dem der FlowMeister aus "
                                  "Sicherheitsgründen nicht folgt";
static const char NotRegular[] = " ist keine gewöhnliche Datei";
static const char TooLarge[] = " ist größer als 64 KiB";

static SettingsFileRefused refused(const char *why, const QString &path)
{
    return SettingsFileRefused("Die Einstellungsdatei " + path.toStdString() + why);
}

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

// The regular file a settings path names, symbolic links resolved.
struct SettingsTarget {
    QByteArray path;  // no link in its last part
    struct stat st = {};
    bool exists = false;
};

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

// Checks what `path` names before it is opened, so that no pipe or device
// is ever opened.  A symbolic link is followed only as the kernel's
// protected_symlinks would let it be followed in a shared directory: its
// owner owns the target, and the program runs with no more privilege than
// its user.  `failure` starts the error for anything else that goes wrong.
static SettingsTarget locate(const QString &path, const char *failure)
{
    SettingsTarget target{QFile::encodeName(path)};
    struct stat link = {};
    if (lstat(target.path.constData(), &link) != 0) {
        if (errno == ENOENT)
            return target;
        throw fileError(failure, path);
    }
    target.st = link;
    if (S_ISLNK(link.st_mode)) {
        char *resolved = realpath(target.path.constData(), nullptr);
        target.path = resolved;
        free(resolved);
        if (target.path.isEmpty() || runsPrivileged() || stat(target.path.constData(), &target.st) != 0
            || target.st.st_uid != link.st_uid)
            throw refused(NotFollowed, path);
    }
    if (!S_ISREG(target.st.st_mode))
        throw refused(NotRegular, path);
    if (target.st.st_size > MaxSettingsFileSize)
        throw refused(TooLarge, path);
    target.exists = true;
    return target;
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

static bool writeAt(int fd, const QByteArray &bytes, off_t offset)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QString readSettingsFile(const QString &path)
{
    const SettingsTarget target = locate(path, "Cannot open file ");
    if (!target.exists)
        return QString();
    const Descriptor fd(open(target.path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st = {};
    if (fd < 0 || fstat(fd, &st) != 0)
        throw fileError("Cannot open file ", path);
    if (!S_ISREG(st.st_mode))
        throw refused(NotRegular, path);
    QByteArray bytes(MaxSettingsFileSize + 1, Qt::Uninitialized);
    const qsizetype size = readUpTo(fd, bytes.data(), bytes.size());
    if (size < 0)
        throw fileError("Cannot open file ", path);
    if (size > MaxSettingsFileSize)
        throw refused(TooLarge, path);
    bytes.truncate(size);
    return decodeIniText(bytes);
}

namespace {
enum class Replaced { Yes, NotAllowed, Failed };
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

// Writes a new file with the old one's owner, group and mode and renames it
// over the old one.  NotAllowed: the directory takes no new file, or the
// owner could not be kept.
static Replaced replaceFile(int dir, const QByteArray &name, const SettingsTarget &target,
                            const QByteArray &bytes)
{
    // Left only by a save killed between naming its file and the rename.
    const QByteArray temporary = name + ".new";
    unlinkat(dir, temporary.constData(), 0);
    bool named = false;
    const Descriptor fd(createTemporary(dir, temporary, target.exists ? 0600 : 0666, named));
    if (fd < 0)
        return failure(errno);
    int error = 0;
    if (target.exists && (fchown(fd, target.st.st_uid, target.st.st_gid) != 0
                          || fchmod(fd, target.st.st_mode & 07777) != 0))
        error = EPERM;
    else if (!writeAt(fd, bytes, 0) || fsync(fd) != 0 || !moveIntoPlace(dir, fd, named, temporary, name))
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
           && writeAt(fd, bytes, 0) && ftruncate(fd, bytes.size()) == 0 && fsync(fd) == 0;
}

void writeSettingsFile(const QString &path, const QString &text)
{
    const SettingsTarget target = locate(path, "Cannot create file ");
    const qsizetype slash = target.path.lastIndexOf('/');
    const QByteArray dirName = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.path.left(slash);
    const QByteArray name = target.path.mid(slash + 1);
    const QByteArray bytes = encodeIniText(text);
    const Descriptor dir(open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A read-only file stays as it is, though its directory would let it be replaced.
    if (dir < 0 || (target.exists && faccessat(dir, name.constData(), W_OK, AT_EACCESS) != 0))
        throw fileError("Cannot create file ", path);
    const Replaced replaced = replaceFile(dir, name, target, bytes);
    if (replaced == Replaced::Yes
        || (replaced == Replaced::NotAllowed && target.exists && writeInPlace(dir, name, target.st, bytes)))
        return;
    throw fileError("Cannot create file ", path);
}

static int32_t readKey(const IniText &ini, const char *key, int32_t fallback)
{
    return readIniInt(ini, settingsSection, QLatin1String(key), fallback);
}

static void writeKey(IniText &ini, const char *key, int32_t value)
{
    ini.setValue(settingsSection, QLatin1String(key), QString::number(value));
}

void readSettings(const IniText &ini, Settings &s, QPoint &topLeft)
{
    s.location = readKey(ini, "location", s.location);
    s.interface = readKey(ini, "interface", s.interface);
    s.interfacename = ini.value(settingsSection, QStringLiteral("interfacename"))
                          .value_or(s.interfacename);
    s.firstrun = readKey(ini, "firstrun", s.firstrun);
    s.speed = readKey(ini, "speed", s.speed);
    s.debuglevel = readKey(ini, "debuglevel", s.debuglevel);
    topLeft.setY(readKey(ini, "top", topLeft.y()));
    topLeft.setX(readKey(ini, "left", topLeft.x()));
    s.stayontop = readKey(ini, "stayontop", s.stayontop);
    s.monthstart = readKey(ini, "monthstart", s.monthstart);
    s.scale = readKey(ini, "scale", s.scale);
}

void writeSettings(IniText &ini, const Settings &s, QPoint topLeft)
{
    writeKey(ini, "location", s.location);
    writeKey(ini, "interface", s.interface);
    if (!s.interfacename.isEmpty())  // unknown until an interface has been chosen or found
        ini.setValue(settingsSection, QStringLiteral("interfacename"), s.interfacename);
    writeKey(ini, "firstrun", s.firstrun);
    writeKey(ini, "top", topLeft.y());
    writeKey(ini, "left", topLeft.x());
    writeKey(ini, "stayontop", s.stayontop);
}
