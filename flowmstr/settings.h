// The settings dialog: connection type and the monitored interface.
#ifndef SETTINGS_H
#define SETTINGS_H

#include "interfaces.h"
#include "ui_setform.h"

#include <QDialog>

class TMainForm;

class TSetForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSetForm(TMainForm *owner, InterfaceResolver resolve = libfms_interfaceinfo);

private:
    void FormCreate(const InterfaceResolver &resolve);
    void fillInterfaceList(const InterfaceResolver &resolve);
    void DirectConnectionClick();
    void IfcListSelect(int position);
    void ApplyBtnClick();
    void OKBtnClick();
    void HelpClick();

    Ui::TSetForm ui;
    TMainForm *mainForm;
};

#endif // SETTINGS_H
