// SPDX-License-Identifier: MIT
#include "safefile.h"
#include "settingsfile.h"
#include "support.h"
#include "volume.h"

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const SettingsFileError &e) {
        return e.what();
    }
    return QString();
}

static void setMode(const QString &path, int mode)
{
    chmod(QFile::encodeName(path).constData(), mode);
}

static int modeOf(const QString &path)
{
    struct stat st = {};
    stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

// A settings file before and after a save with location 1: a Latin-1
// comment, a key set by hand and, for `size` > 0, a section padding the
// file before the save to `size` bytes.
static QByteArray fileText(int size, bool saved)
{
    const QByteArray head = "; Gr\xFC\xDF" "e\n[settings]\nspeed=1024\n";
    const QByteArray keys = "location=1\ninterface=1\nfirstrun=0\ntop=0\nleft=0\nstayontop=1\n";
    const QByteArray pad = "[pad]\n;\n\n";
    const QByteArray text = head + (saved ? keys : QByteArray()) + '\n';
    if (size == 0)
        return text;
    return text + QByteArray(pad).insert(7, QByteArray(size - head.size() - 1 - pad.size(), 'x'));
}

// Saves as the program does: the volume for a .csv file, else the settings.
static bool saveAs(const QString &path)
{
    if (!path.endsWith(".csv"))
        return errorOf([&] { writeSettingsFile(path, "[settings]\n"); }).isEmpty();
    VolumeBook book;
    QString problem;
    book.addTick(QDateTime::currentDateTime(), 1, 1, 0);
    return book.save(path, &problem);
}

// Runs `save` in a child process with umask 0, and returns every mode bit of
// the regular files opened in `dir` meanwhile (seen by fanotify, which holds
// each open until it is answered; as root only), or -1 when the save failed.
static int modesOpened(const QString &dir, const std::function<bool()> &save)
{
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
    fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, QFile::encodeName(dir));
    const pid_t pid = forkChild([&] { umask(0); return save(); });
    int modes = 0, status = 0;
    for (pollfd ready = {fan, POLLIN, 0}; waitpid(pid, &status, WNOHANG) != pid;) {
        fanotify_event_metadata event;
        if (poll(&ready, 1, 50) <= 0 || read(fan, &event, sizeof event) != sizeof event)
            continue;
        struct stat st = {};
        if (fstat(event.fd, &st) == 0 && S_ISREG(st.st_mode))
            modes |= st.st_mode & 07777;
        const fanotify_response allow = {event.fd, FAN_ALLOW};
        write(fan, &allow, sizeof allow);  // unanswered, the save ends by its alarm
        close(event.fd);
    }
    close(fan);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? modes : -1;
}

// A write that returns, call by call, what `writeReturns` holds (a byte
// count or minus an errno; all asked for once it is empty) and keeps the
// bytes written in `written`.
static QList<int> writeReturns;
static QByteArray written;

static ssize_t scriptedWrite(int, const void *buffer, size_t size, off_t offset)
{
    const int n = writeReturns.isEmpty() ? int(size) : std::min(writeReturns.takeFirst(), int(size));
    errno = n < 0 ? -n : 0;
    if (n > 0)
        written.replace(offset, n, static_cast<const char *>(buffer), n);
    return n < 0 ? -1 : n;
}

static QString settingsText(const Settings &s, QPoint topLeft, const QString &base = QString())
{
    IniText ini(base);
    writeSettings(ini, s, topLeft);
    return ini.text();
}

class SettingsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void parseIniInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("expected");

        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("negative") << "-5" << true << -5;
        QTest::newRow("plus sign") << "+7" << true << 7;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("trailing junk") << "12a" << false << 0;
        QTest::newRow("0x") << "0x400" << true << 1024;
        QTest::newRow("0X") << "0X1f" << true << 31;
        QTest::newRow("dollar") << "$10" << true << 16;
        QTest::newRow("0x alone") << "0x" << false << 0;
        QTest::newRow("dollar alone") << "$" << false << 0;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("smallest") << "-2147483648" << true << int(INT32_MIN);
        QTest::newRow("hex all ones") << "0xFFFFFFFF" << true << -1;
        QTest::newRow("hex too long") << "0x100000000" << false << 0;
    }

    void parseIniInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, expected);

        const std::optional<int32_t> result = ::parseIniInt(text);
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(*result, expected);
    }

    void readSettings_data()
    {
        // location, interface, firstrun, speed, debuglevel, stayontop, left, top
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("expected");

        QTest::newRow("empty") << "" << QList<int>{0, 1, 0, 768, 0, 1, 10, 20};
        QTest::newRow("full")
            << "[settings]\nlocation=1\ninterface=3\nfirstrun=1\nspeed=1024\n"
               "debuglevel=2\ntop=-30\nleft=400\nstayontop=0\n"
            << QList<int>{1, 3, 1, 1024, 2, 0, 400, -30};
        QTest::newRow("case and spaces")
            << "[ Settings ]\nLOCATION = 1\n  Interface=  0x10 \nTOP= 12 \n"
            << QList<int>{1, 16, 0, 768, 0, 1, 10, 12};
        QTest::newRow("comments and lines without =")
            << "location=5\n[settings]\n; location=6\n# interface=7\nspeed 100\nfirstrun=1\n"
            << QList<int>{0, 1, 1, 768, 0, 1, 10, 20};
        QTest::newRow("other sections")
            << "[other]\nlocation=5\n[settings]\ninterface=2\n[more]\nfirstrun=1\nleft=3\n"
            << QList<int>{0, 2, 0, 768, 0, 1, 10, 20};
        QTest::newRow("unusable values, speed not clamped")
            << "[settings]\nlocation=x\ninterface=\nspeed=-1\nleft=99999999999\ntop=1 2\n"
            << QList<int>{0, 1, 0, -1, 0, 1, 10, 20};
    }

    void readSettings()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, expected);

        Settings s;
        QPoint topLeft(10, 20);
        ::readSettings(IniText(text), s, topLeft);
        QCOMPARE(QList<int>({s.location, s.interface, s.firstrun, s.speed, s.debuglevel,
                             s.stayontop, topLeft.x(), topLeft.y()}),
                 expected);
    }

    void writeFromNothing()
    {
        QCOMPARE(settingsText(Settings(), QPoint(5, 7)),
                 "[settings]\nlocation=0\ninterface=1\nfirstrun=0\ntop=7\nleft=5\nstayontop=1\n\n");
    }

    void writeKeepsOtherLines_data()
    {
        // Saved three times with location 1, interface -2, left -3, top 4.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("hand-added keys and foreign section")
            << "; mine\n[settings]\nspeed=1024\nlocation=0\ndebuglevel=2\n[other]\n; note\nlocation=9\n"
            << "; mine\n[settings]\nspeed=1024\nlocation=1\ndebuglevel=2\ninterface=-2\n"
               "firstrun=0\ntop=4\nleft=-3\nstayontop=1\n\n[other]\n; note\nlocation=9\n\n";
        QTest::newRow("own order kept")
            << "[Settings]\nStayOnTop=0\nleft = 8\ntop=9\nfirstrun=1\ninterface=1\nlocation=0\n"
            << "[Settings]\nStayOnTop=1\nleft=-3\ntop=4\nfirstrun=0\ninterface=-2\nlocation=1\n\n";
        QTest::newRow("missing keys at end of section")
            << "[settings]\ntop=0\n\nspeed=2\n\n\n\n[other]\na=1"
            << "[settings]\ntop=4\n\nspeed=2\nlocation=1\ninterface=-2\nfirstrun=0\n"
               "left=-3\nstayontop=1\n\n[other]\na=1\n\n";
        QTest::newRow("missing section after others")
            << "; head\n[a]\nx=1\n[b]\n"
            << "; head\n[a]\nx=1\n\n[b]\n\n[settings]\nlocation=1\ninterface=-2\n"
               "firstrun=0\ntop=4\nleft=-3\nstayontop=1\n\n";
    }

    void writeKeepsOtherLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);

        Settings s;
        s.location = 1;
        s.interface = -2;
        for (int i = 0; i < 3; ++i)
            text = settingsText(s, QPoint(-3, 4), text);
        QCOMPARE(text, expected);
    }

    void missingFileOrDirectory()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("flowmstr.ini");
        QCOMPARE(readSettingsFile(path), QString(""));
        QVERIFY(!QFile::exists(path));
        const QString refused = "Die Einstellungsdatei " + dir.path() + " ist keine gewöhnliche Datei";
        QCOMPARE(errorOf([&] { readSettingsFile(dir.path()); }), refused);
        QCOMPARE(errorOf([&] { writeSettingsFile(dir.path(), "x\n"); }), refused);
    }

    void permissionErrors_data()
    {
        QTest::addColumn<int>("dirMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("write");

        QTest::newRow("unreadable file") << 0755 << 0200 << false;
        QTest::newRow("read-only file") << 0755 << 0444 << true;
        QTest::newRow("read-only directory and file") << 0555 << 0444 << true;
    }

    void permissionErrors()
    {
        QFETCH(int, dirMode);
        QFETCH(int, fileMode);
        QFETCH(bool, write);
        if (geteuid() != 0)
            QSKIP("needs root to switch to user nobody");

        QTemporaryDir dir;
        const QString path = dir.filePath("flowmstr.ini");
        const QString old = "[settings]\nlocation=1\n";
        writeSettingsFile(path, old);
        for (const QString &p : {dir.path(), path})
            QCOMPARE(chown(QFile::encodeName(p).constData(), NobodyUid, NobodyUid), 0);
        setMode(path, fileMode);
        setMode(dir.path(), dirMode);

        const pid_t pid = forkChild([&] {
            if (write)
                return errorOf([&] { writeSettingsFile(path, "new\n"); }) == "Cannot create file " + path;
            return errorOf([&] { readSettingsFile(path); }) == "Cannot open file " + path;
        }, Nobody);
        QCOMPARE(waitChild(pid), 0);
        QCOMPARE(readSettingsFile(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"flowmstr.ini"});
    }

    // The new file is never opened with more mode bits than the old one had.
    void permissionsSurvive_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("mode");
        QTest::newRow("settings 0600") << "flowmstr.ini" << 0600;
        QTest::newRow("settings 0644") << "flowmstr.ini" << 0644;
        QTest::newRow("settings 0664") << "flowmstr.ini" << 0664;
        QTest::newRow("volume 0600") << "flowmstr.csv" << 0600;
        QTest::newRow("volume 0640") << "flowmstr.csv" << 0640;
    }

    void permissionsSurvive()
    {
        QFETCH(QString, file);
        QFETCH(int, mode);

        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        writeFile(path, "old\n");
        setMode(path, mode);
        const int opened = modesOpened(dir.path(), [&] { return saveAs(path); });
        QCOMPARE(opened & ~mode, 0);
        QVERIFY(readFile(path) != "old\n");
        QCOMPARE(modeOf(path), mode);
    }

    // Every save waits while another holds its directory's lock.
    void savesTakeTheLock_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("settings") << "flowmstr.ini";
        QTest::newRow("volume") << "flowmstr.csv";
    }

    void savesTakeTheLock()
    {
        QFETCH(QString, file);

        QTemporaryDir dir;
        const int lock = open(QFile::encodeName(dir.path()), O_RDONLY | O_DIRECTORY);
        QCOMPARE(flock(lock, LOCK_EX), 0);
        const pid_t pid = forkChild([&] { return close(lock) == 0 && saveAs(dir.filePath(file)); });
        usleep(200000);
        QCOMPARE(waitpid(pid, nullptr, WNOHANG), 0);
        close(lock);
        QCOMPARE(waitChild(pid), 0);
        QVERIFY(QFile::exists(dir.filePath(file)));
    }

    void writeFully_data()
    {
        QTest::addColumn<QList<int>>("returns");
        QTest::addColumn<bool>("done");
        QTest::newRow("at once") << QList<int>{} << true;
        QTest::newRow("in parts") << QList<int>{3, 1, 4} << true;
        QTest::newRow("signals") << QList<int>{-EINTR, 5, -EINTR} << true;
        QTest::newRow("no byte taken") << QList<int>{3, 0} << false;
        QTest::newRow("error") << QList<int>{2, -EIO} << false;
    }

    void writeFully()
    {
        QFETCH(QList<int>, returns);
        QFETCH(bool, done);

        const QByteArray bytes = "0123456789abcdef";
        writeReturns = returns;
        written = QByteArray(20, '-');
        QCOMPARE(::writeFully(-1, bytes, 2, scriptedWrite), done);
        if (done)
            QCOMPARE(written, "--" + bytes + "--");
    }

    // What flowmstr.ini is, who owns it (or its target) and who saves: a save
    // is read, set, write, as the program does it.  A success leaves the new
    // text with the old owner, group and mode (in place where the directory
    // is read-only); a failure leaves everything as it was.
    void hazards_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("owner");
        QTest::addColumn<int>("dirMode");
        QTest::addColumn<int>("as");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("error");
        const QString link = "symbolischer Link", special = "keine gewöhnliche Datei";
        QTest::newRow("user's file, root saves") << "file" << int(NobodyUid) << 0755 << int(Root) << 0 << "";
        QTest::newRow("read-only directory") << "file" << int(NobodyUid) << 0555 << int(Nobody) << 0 << "";
        QTest::newRow("own link") << "link" << 0 << 0755 << int(Root) << 0 << "";
        QTest::newRow("foreign link") << "foreign link" << 0 << 01777 << int(Root) << 0 << link;
        QTest::newRow("own link, set-uid") << "link" << int(NobodyUid) << 0755 << int(SetUid) << 0 << link;
        QTest::newRow("dangling link") << "dangling link" << 0 << 0755 << int(Root) << 0 << link;
        QTest::newRow("link to /dev/zero") << "link to /dev/zero" << 0 << 0755 << int(Root) << 0 << special;
        QTest::newRow("FIFO") << "fifo" << 0 << 0755 << int(Root) << 0 << special;
        QTest::newRow("directory") << "directory" << 0 << 0755 << int(Root) << 0 << special;
        QTest::newRow("64 KiB") << "file" << 0 << 0755 << int(Root) << 65536 << "";
        QTest::newRow("64 KiB and 1") << "file" << 0 << 0755 << int(Root) << 65537 << "größer als 64 KiB";
    }

    void hazards()
    {
        QFETCH(QString, entry);
        QFETCH(int, owner);
        QFETCH(int, dirMode);
        QFETCH(int, as);
        QFETCH(int, size);
        QFETCH(QString, error);
        if (geteuid() != 0)
            QSKIP("needs root to set owners");

        QTemporaryDir top;
        setMode(top.path(), 0755);
        const QString dir = top.filePath("d"), ini = dir + "/flowmstr.ini";
        const QString target = entry == "file" ? ini : dir + "/real.ini";
        QVERIFY(QDir().mkdir(dir));
        const QByteArray d = QFile::encodeName(dir), t = QFile::encodeName(target);
        writeFile(target, fileText(size, false));
        QCOMPARE(chown(t, owner, owner), 0);
        setMode(target, 0640);
        const QByteArray i = QFile::encodeName(ini);
        const char *linkTo = entry.endsWith("zero") ? "/dev/zero" : entry.startsWith("dangling") ? "missing.ini" : "real.ini";
        if (entry.contains("link"))
            QCOMPARE(symlink(linkTo, i) | lchown(i, entry == "foreign link" ? NobodyUid : owner, 0), 0);
        if (entry == "fifo" || entry == "directory")
            QCOMPARE(entry == "fifo" ? mkfifo(i, 0644) : mkdir(i, 0755), 0);
        QCOMPARE(chown(d, NobodyUid, NobodyUid), 0);
        setMode(dir, dirMode);
        struct stat before = {}, after = {};
        stat(t, &before);
        const QStringList entries = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden);

        const pid_t pid = forkChild([&] {
            const QString got = errorOf([&] {
                IniText text(readSettingsFile(ini));
                Settings s;
                s.location = 1;
                writeSettings(text, s, QPoint());
                writeSettingsFile(ini, text.text());
            });
            return error.isEmpty() ? got.isEmpty() : got.contains(error);
        }, Credentials(as));
        QCOMPARE(waitChild(pid), 0);
        QCOMPARE(readFile(target), fileText(size, error.isEmpty()));
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden), entries);
        stat(t, &after);
        QCOMPARE(QList<uint>({after.st_uid, after.st_gid, after.st_mode}),
                 QList<uint>({before.st_uid, before.st_gid, before.st_mode}));
        if (!(dirMode & 0200))
            QCOMPARE(after.st_ino, before.st_ino);  // written in place
        QCOMPARE(lstat(i, &after) == 0 && S_ISLNK(after.st_mode), entry.contains("link"));
    }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "settingsfile_test.moc"
