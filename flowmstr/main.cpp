#include "core.h"
#include "forms.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The windows are laid out in pixels at 75 dpi: no scaling on any screen.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle);
    TMainForm mainForm;
    mainForm.show();
    return app.exec();
}
