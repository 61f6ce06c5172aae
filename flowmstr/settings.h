// SPDX-License-Identifier: MIT
// The settings dialog: connection type and the monitored interface.
#ifndef SETTINGS_H
#define SETTINGS_H

#include "interfaces.h"
#include "settingsfile.h"
#include "ui_setform.h"

#include <QDialog>

#include <functional>

class TSetForm : public QDialog
{
    Q_OBJECT

public:
    // Changes `settings` at once; Apply and OK call `save`, which throws
    // SettingsFileError when the file can't be written.
    TSetForm(QWidget *owner, Settings &settings, std::function<void()> save,
             InterfaceResolver resolve = libfms_interfaceinfo);

private:
    void FormCreate(const InterfaceResolver &resolve);
    void fillInterfaceList(const InterfaceResolver &resolve);
    void DirectConnectionClick();
    void IfcListSelect(int position);
    void ApplyBtnClick();
    void OKBtnClick();
    void HelpClick();

    Ui::TSetForm ui;
    Settings &settings;
    const std::function<void()> save;
};

#endif // SETTINGS_H
