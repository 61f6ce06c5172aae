#include "settingsfile.h"

#include <QFile>
#include <QSaveFile>

static const QString settingsSection = QStringLiteral("settings");

static SettingsFileError fileError(const char *what, const QString &path)
{
    return SettingsFileError(what + path.toStdString());
}

QString readSettingsFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw fileError("Cannot open file ", path);
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fileError("Cannot open file ", path);
    return QString::fromUtf8(data);
}

void writeSettingsFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
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
