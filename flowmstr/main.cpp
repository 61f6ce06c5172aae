#include "core.h"
#include "forms.h"
#include "platform.h"
#include "scaling.h"
#include "SimpleHTMLHelp.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    prepareScaling(SettingsFileName);
    preferXWayland(argc, argv);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    registerHelpViewer(args.isEmpty() ? QCoreApplication::applicationFilePath() : args.first());
    QApplication::setApplicationName(ApplicationTitle);

    TMainForm mainForm;
    mainForm.show();
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
