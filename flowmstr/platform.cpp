// SPDX-License-Identifier: MIT
#include "platform.h"

bool runThroughXWayland(const QProcessEnvironment &environment, const QStringList &arguments)
{
    const bool wayland = !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
                         environment.value(QStringLiteral("XDG_SESSION_TYPE")) == u"wayland";
    const bool xDisplay = !environment.value(QStringLiteral("DISPLAY")).isEmpty();
    const bool chosen = !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() ||
                        arguments.contains(QStringLiteral("-platform")) ||
                        arguments.contains(QStringLiteral("--platform"));
    return wayland && xDisplay && !chosen;
}

void preferXWayland(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (runThroughXWayland(QProcessEnvironment::systemEnvironment(), arguments))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

QString onTopHint(const QString &platformName)
{
    if (!platformName.startsWith(u"wayland"))
        return {};
    return QStringLiteral("Wirkt hier nicht: In einer Wayland-Sitzung ohne XWayland "
                          "bestimmt allein die Arbeitsumgebung, welches Fenster im "
                          "Vordergrund bleibt.");
}
