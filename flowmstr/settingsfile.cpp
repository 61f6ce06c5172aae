// SPDX-License-Identifier: MIT
#include "settingsfile.h"

#include "safefile.h"

static const QString settingsSection = QStringLiteral("settings");

static const FileRules settingsRules{MaxSettingsFileSize, Links::OwnersOnly};

// Why a file is refused, after "Die Einstellungsdatei NAME".
static const char NotFollowed[] = " ist ein symbolischer Link, dem der FlowMeister aus "
                                  "Sicherheitsgründen nicht folgt";
static const char NotRegular[] = " ist keine gewöhnliche Datei";
static const char TooLarge[] = " ist größer als 64 KiB";

static SettingsFileRefused refused(const char *why, const QString &path)
{
    return SettingsFileRefused("Die Einstellungsdatei " + path.toStdString() + why);
}

// Throws for a file refused or one that can't be used; `failure` starts the
// error for the latter.
static void check(FileStatus status, const QString &path, const char *failure)
{
    switch (status) {
    case FileStatus::Ok:
    case FileStatus::Missing:
        return;
    case FileStatus::NotFollowed:
        throw refused(NotFollowed, path);
    case FileStatus::NotRegular:
        throw refused(NotRegular, path);
    case FileStatus::TooLarge:
        throw refused(TooLarge, path);
    default:
        throw SettingsFileError(failure + path.toStdString());
    }
}

QString readSettingsFile(const QString &path)
{
    const FileText file = readSafeFile(path, settingsRules);
    check(file.status, path, "Cannot open file ");
    return decodeIniText(file.bytes);
}

void writeSettingsFile(const QString &path, const QString &text)
{
    check(writeSafeFile(path, settingsRules, encodeIniText(text)), path, "Cannot create file ");
}

void updateSettingsFile(const QString &path, const std::function<void(IniText &ini)> &change)
{
    const FileStatus status = updateSafeFile(path, settingsRules, [&](const QByteArray &old) {
        IniText ini(decodeIniText(old));
        change(ini);
        return encodeIniText(ini.text());
    });
    check(status, path, "Cannot create file ");
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
    s.monthlimit = readKey(ini, "monthlimit", s.monthlimit);
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
    // A file without an allowance keeps the lines it always had.
    if (s.monthlimit != 0 || ini.value(settingsSection, QStringLiteral("monthlimit")))
        writeKey(ini, "monthlimit", s.monthlimit);
}
