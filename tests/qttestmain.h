// main() of the Qt tests that drive windows: the offscreen platform, and a
// network namespace of the test's own, so that captures the windows start
// stay inside it.
#pragma once

#include "testnet.h"

#include <QApplication>
#include <QTest>

#include <cstdio>

// namespaceNeeded: fail without one (needs root); else go on without it, as
// no capture can start without root anyway.
template <typename Test> int qtTestMain(int argc, char **argv, bool namespaceNeeded = true)
{
    if (!testnet::enterPrivateNamespace() && namespaceNeeded) {
        std::fprintf(stderr, "needs root: no private network namespace\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
