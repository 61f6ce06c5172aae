// SPDX-License-Identifier: MIT
#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include "inifile.h"

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>

// The program's settings values, kept in section [settings] of the ini file.
struct Settings {
    int32_t location = 0;   // 0: PC connected to the DSL modem directly, 1: not
    int32_t interface = 1;  // 0-based interface number
    QString interfacename;  // the interface's name, followed when its number moves
    int32_t firstrun = 0;   // 0: first-run flow still to run
    int32_t speed = 768;    // line's maximum speed, kbit/s (read only)
    int32_t debuglevel = 0; // diagnostics level (read only)
    int32_t stayontop = 1;
    int32_t monthstart = 1; // day the billing month starts, 1 to 31 (read only)
    int32_t monthlimit = 0; // the month's allowance in MB, 0: none
    int32_t scale = 1;      // windows this many times their size, 1 to 4 (read only)
};

class SettingsFileError : public std::runtime_error
{
    using runtime_error::runtime_error;
};

// A file the program neither reads nor writes: no regular file, too large,
// or a symbolic link it must not follow.  The text is for the user (German).
class SettingsFileRefused : public SettingsFileError
{
    using SettingsFileError::SettingsFileError;
};

// The largest settings file read.
constexpr qint64 MaxSettingsFileSize = 64 * 1024;

// "" when the file does not exist; throws when it exists but can't be read.
QString readSettingsFile(const QString &path);
// Replaces the file atomically, keeping its owner, group and mode, so it is
// never left half written; rewrites it in place where that is not allowed
// but the file itself is writable.  Waits for other saves in its directory.
void writeSettingsFile(const QString &path, const QString &text);
// Writes what `change` makes of the file's text as writeSettingsFile does,
// read under the same lock: no other program's save comes between.
void updateSettingsFile(const QString &path, const std::function<void(IniText &ini)> &change);

// topLeft: in = fallback window position, out = read position.
void readSettings(const IniText &ini, Settings &s, QPoint &topLeft);
void writeSettings(IniText &ini, const Settings &s, QPoint topLeft);

#endif // SETTINGSFILE_H
