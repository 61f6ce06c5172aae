// SPDX-License-Identifier: MIT
#include "connectiontest.h"

#include "interfaces.h"

const QString TestImpossibleText = QStringLiteral(
    "Orba-DSL Verbindungstest nicht möglich.\n"
    "Der Orba-DSL Verbindungstest kann nur durchgeführt\n"
    "werden, wenn keine aktive Verbindung zum Internet besteht.");

const QString TestFailedText = QStringLiteral(
    "Der Orba-DSL Verbindungstest ist gescheitert!\n"
    "Bitte überprüfen Sie Ihre Orba-DSL Konfiguration\n"
    "und Verkabelung. Bei speziellen Fragen zur Orba-DSL\n"
    "Installation hilft Ihnen unsere Orba-DSL Technik-Hotline\n"
    "unter der Rufnummer 0800 000 0000 (0,00 EUR/Min.) weiter.\n"
    "Vermuten Sie eine Störung im Netz der Orbacom,\n"
    "wenden Sie sich bitte an den Orba-Service unter der\n"
    "Rufnummer 0800 000 0001.");

static bool isPppName(const char *name)
{
    for (int i = 0; i < 3; ++i)
        if (name[i] != 'p' && name[i] != 'P')
            return false;
    return true;
}

int pppLinksUp(int verbose)
{
    int links = 0;
    for (const LIBFMSINFO &entry : probeInterfaces(verbose))
        links += isPppName(entry.interface);
    return links;
}
