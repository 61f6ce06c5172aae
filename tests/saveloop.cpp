// SPDX-License-Identifier: MIT
// Saves the settings file over and over, the text of file A, then of B, then
// A again, until it is killed: what tests/killsave.sh kills.
// Usage: saveloop SETTINGS_FILE A B
#include "inifile.h"
#include "settingsfile.h"

#include <QFile>

static QString textOf(const char *name)
{
    QFile file(QFile::decodeName(name));
    return file.open(QIODevice::ReadOnly) ? decodeIniText(file.readAll()) : QString();
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const QString path = QFile::decodeName(argv[1]);
    const QString texts[] = {textOf(argv[2]), textOf(argv[3])};
    for (int i = 0;; i ^= 1)
        writeSettingsFile(path, texts[i]);
}
