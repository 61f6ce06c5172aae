// SPDX-License-Identifier: MIT
#include "scaling.h"

#include "settingsfile.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>

static const char *const QtScalingVariables[] = {
    "QT_ENABLE_HIGHDPI_SCALING", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
    "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_USE_PHYSICAL_DPI",
    "QT_DEVICE_PIXEL_RATIO"};

void prepareScaling(const QString &settingsFile)
{
    Settings s;
    QPoint position;
    try {
        readSettings(IniText(readSettingsFile(settingsFile)), s, position);
    } catch (const SettingsFileError &) {
        // The main window reports it; the windows stay unscaled.
    }
    const int scale = s.scale >= 1 && s.scale <= 4 ? s.scale : 1;
    if (std::any_of(std::begin(QtScalingVariables), std::end(QtScalingVariables),
                    [](const char *name) { return !qEnvironmentVariableIsEmpty(name); })) {
        if (scale != 1 && s.debuglevel != 0)
            std::fprintf(stderr, "scale=%d not used: Qt's own scaling variables are set\n", scale);
        return;
    }
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    if (scale > 1)
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
}
