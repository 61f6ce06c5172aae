// SPDX-License-Identifier: MIT
// libFuzzer target for the settings file's text: any bytes are read and
// saved as the program does it.  Every byte survives decoding and encoding,
// the values saved are read back, and a second save changes nothing.
#include "inifile.h"
#include "settingsfile.h"

#include <cstdlib>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = decodeIniText(bytes);
    check(encodeIniText(text) == bytes);

    IniText ini(text);
    Settings read;
    QPoint topLeft(639, 459);
    readSettings(ini, read, topLeft);

    Settings saved;
    saved.location = read.location ^ 1;
    saved.interface = int32_t(size);
    saved.firstrun = read.speed;
    saved.stayontop = read.debuglevel;
    const QPoint position(topLeft.y(), -topLeft.x());
    writeSettings(ini, saved, position);
    const QString first = ini.text();

    IniText again(first);
    Settings back;
    QPoint backTopLeft;
    readSettings(again, back, backTopLeft);
    check(back.location == saved.location && back.interface == saved.interface
          && back.firstrun == saved.firstrun && back.stayontop == saved.stayontop
          && backTopLeft == position);
    writeSettings(again, saved, position);
    check(again.text() == first);
    return 0;
}
