// SPDX-License-Identifier: MIT
#include "core.h"
#include "forms.h"
#include "platform.h"
#include "quitsignals.h"
#include "scaling.h"
#include "SimpleHTMLHelp.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    prepareScaling(SettingsFileName);
    preferXWayland(argc, argv);
    QApplication app(argc, argv);
    registerHelpViewer(QCoreApplication::applicationDirPath());
    QApplication::setApplicationName(ApplicationTitle);

    TMainForm mainForm;
    mainForm.show();
    onQuitSignals(&mainForm, [&mainForm] { mainForm.quitOnSignal(); });
    std::unique_ptr<TFormSimpleHTMLHelpViewer> helpWindow;
    if (!FormSimpleHTMLHelpViewer) {
        helpWindow = std::make_unique<TFormSimpleHTMLHelpViewer>();
        FormSimpleHTMLHelpViewer = helpWindow.get();
    }
    const int result = app.exec();
    HelpSystem::instance().shutdown();
    FormSimpleHTMLHelpViewer = nullptr;
    return result;
}
