#include "core.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Orba-DSL FlowMeister"));
    TMainForm mainForm;
    mainForm.show();
    return app.exec();
}
