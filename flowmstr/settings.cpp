// SPDX-License-Identifier: MIT
#include "settings.h"

#include "forms.h"
#include "SimpleHTMLHelp.h"

#include <QScreen>

#include <algorithm>

TSetForm::TSetForm(QWidget *owner, Settings &settings, std::function<void()> save,
                   InterfaceResolver resolve)
    : QDialog(owner), settings(settings), save(std::move(save))
{
    ui.setupUi(this);
    applyFormFont(this, 10);
    applyFormFont(ui.ApplyBtn, 11);
    ui.Image2->setPixmap(transparentPixmap(QStringLiteral(":/images/network.png")));
    ui.Image3->setPixmap(transparentPixmap(QStringLiteral(":/images/adapter.png")));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    move(screen()->availableGeometry().center() - rect().center());

    connect(ui.DirectConnection, &QCheckBox::clicked, this, &TSetForm::DirectConnectionClick);
    connect(ui.IfcList, &QComboBox::activated, this, &TSetForm::IfcListSelect);
    connect(ui.ApplyBtn, &QPushButton::clicked, this, &TSetForm::ApplyBtnClick);
    connect(ui.OKBtn, &QPushButton::clicked, this, &TSetForm::OKBtnClick);
    connect(ui.CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui.Help, &QPushButton::clicked, this, &TSetForm::HelpClick);

    FormCreate(resolve);
    ui.PageControl1->setFocus();
}

void TSetForm::FormCreate(const InterfaceResolver &resolve)
{
    ui.DirectConnection->setChecked(settings.location == 0);
    ui.ApplyBtn->setEnabled(false);
    fillInterfaceList(resolve);
}

// Lists every interface number that resolves, keeping the number with its
// entry, and selects the followed interface: by its name, else by its number,
// else the first entry.  A name that is not listed stays followed.
void TSetForm::fillInterfaceList(const InterfaceResolver &resolve)
{
    ui.IfcList->clear();
    for (const LIBFMSINFO &entry : probeInterfaces(0, resolve))
        ui.IfcList->addItem(interfaceName(entry), entry.index);
    int position = ui.IfcList->findText(settings.interfacename);
    if (position < 0)
        position = std::max(ui.IfcList->findData(settings.interface), 0);
    ui.IfcList->setCurrentIndex(position);
    settings.interface = ui.IfcList->count() ? ui.IfcList->itemData(position).toInt() : 0;
    if (settings.interfacename.isEmpty())
        settings.interfacename = ui.IfcList->currentText();
}

void TSetForm::DirectConnectionClick()
{
    settings.location = ui.DirectConnection->isChecked() ? 0 : 1;
    ui.ApplyBtn->setEnabled(true);
}

void TSetForm::IfcListSelect(int position)
{
    settings.interface = ui.IfcList->itemData(position).toInt();
    settings.interfacename = ui.IfcList->itemText(position);
    ui.ApplyBtn->setEnabled(true);
}

void TSetForm::ApplyBtnClick()
{
    try {
        save();
    } catch (const SettingsFileError &e) {
        showError(this, QString::fromStdString(e.what()));
        return;
    }
    ui.ApplyBtn->setEnabled(false);
}

// OK closes the dialog with its result OK even when the save failed.
void TSetForm::OKBtnClick()
{
    ApplyBtnClick();
    accept();
}

void TSetForm::HelpClick()
{
    HelpSystem::instance().showHelp(QStringLiteral("help/help.html#zugangsumgebung"), this);
}
