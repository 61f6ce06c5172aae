// SPDX-License-Identifier: MIT
// How long the readouts take to show figures again once the monitored link
// is back up: 20 cycles of down and up, the up spread over every phase of the
// one-second tick.  Runs the main window offscreen on a veth pair in a
// private network namespace; needs root.
#include "core.h"
#include "readouts.h"
#include "testnet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

// Runs the event loop until the readout does (or does not) show figures;
// the milliseconds that took, or -1 after five seconds.
static qint64 waitForFigures(QWidget *readout, bool shown)
{
    QElapsedTimer clock;
    clock.start();
    while (showsNumbers(readout) != shown && clock.elapsed() < 5000)
        QTest::qWait(1);
    return showsNumbers(readout) == shown ? clock.elapsed() : -1;
}

int main(int argc, char **argv)
{
    if (!testnet::enterPrivateNamespace()) {
        std::fprintf(stderr, "needs root: no private network namespace\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testnet::addVeth("fmsbench0", "192.0.2.1/24", "fmsbench1", "");
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile ini(QStringLiteral("flowmstr.ini"));
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write("[settings]\nfirstrun=1\ninterfacename=fmsbench0\n") < 0)
        return 1;
    ini.close();

    TMainForm form;
    QWidget *readout = form.findChild<QWidget *>(QStringLiteral("LargeBox"));
    QList<qint64> ms;
    for (int cycle = 0; cycle < 20 && waitForFigures(readout, true) >= 0; ++cycle) {
        testnet::setLinkUp("fmsbench0", false);
        waitForFigures(readout, false);
        QTest::qWait(cycle * 50);
        testnet::setLinkUp("fmsbench0", true);
        ms << waitForFigures(readout, true);
        std::printf("cycle %2d: figures %lld ms after link up\n", cycle, ms.last());
    }
    if (ms.size() < 20 || ms.contains(-1))
        return 1;
    std::sort(ms.begin(), ms.end());
    std::printf("20 cycles: median %lld ms, max %lld ms\n", (ms[9] + ms[10]) / 2, ms.last());
    return 0;
}
