// SPDX-License-Identifier: MIT
// The choice of XWayland in a Wayland session.
#include "platform.h"

#include <QTest>

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void xwayland_data()
    {
        QTest::addColumn<QStringList>("variables");  // NAME=value
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("xwayland");
        const QStringList none;
        const QString wl = QStringLiteral("WAYLAND_DISPLAY=wayland-0");
        const QString x = QStringLiteral("DISPLAY=:0");
        QTest::newRow("Wayland with XWayland") << QStringList{wl, x} << none << true;
        QTest::newRow("session type wayland")
            << QStringList{"XDG_SESSION_TYPE=wayland", x} << none << true;
        QTest::newRow("Wayland only") << QStringList{wl} << none << false;
        QTest::newRow("X11 session") << QStringList{"XDG_SESSION_TYPE=x11", x} << none << false;
        QTest::newRow("empty WAYLAND_DISPLAY") << QStringList{"WAYLAND_DISPLAY=", x} << none << false;
        QTest::newRow("empty DISPLAY") << QStringList{wl, "DISPLAY="} << none << false;
        QTest::newRow("platform chosen")
            << QStringList{wl, x, "QT_QPA_PLATFORM=wayland"} << none << false;
        QTest::newRow("empty QT_QPA_PLATFORM")
            << QStringList{wl, x, "QT_QPA_PLATFORM="} << none << true;
        QTest::newRow("-platform") << QStringList{wl, x} << QStringList{"-platform", "wayland"} << false;
        QTest::newRow("--platform") << QStringList{wl, x} << QStringList{"--platform", "xcb"} << false;
        QTest::newRow("other arguments") << QStringList{wl, x} << QStringList{"-style", "fusion"} << true;
    }
    void xwayland()
    {
        QFETCH(QStringList, variables);
        QFETCH(QStringList, arguments);
        QFETCH(bool, xwayland);
        QProcessEnvironment environment;
        for (const QString &variable : variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        QCOMPARE(runThroughXWayland(environment, arguments), xwayland);
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "platform_test.moc"
