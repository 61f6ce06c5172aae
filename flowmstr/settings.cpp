#include "settings.h"

#include "core.h"
#include "forms.h"
#include "SimpleHTMLHelp.h"

#include <QScreen>

TSetForm::TSetForm(TMainForm *owner, InterfaceResolver resolve)
    : QDialog(owner), mainForm(owner)
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
// entry, and selects the entry of `interface` (else the first entry).
void TSetForm::fillInterfaceList(const InterfaceResolver &resolve)
{
    ui.IfcList->clear();
    for (int number = 0; number <= LastProbedInterface; ++number) {
        LIBFMSINFO scratch{};
        scratch.index = number;
        scratch.verbose = 0;
        if (resolve(&scratch) == 0)
            ui.IfcList->addItem(QString::fromLocal8Bit(scratch.interface,
                                                       qstrnlen(scratch.interface, sizeof scratch.interface)),
                                number);
    }
    const int position = ui.IfcList->findData(settings.interface);
    if (position >= 0)
        ui.IfcList->setCurrentIndex(position);
    else
        settings.interface = ui.IfcList->count() ? ui.IfcList->itemData(0).toInt() : 0;
}

void TSetForm::DirectConnectionClick()
{
    settings.location = ui.DirectConnection->isChecked() ? 0 : 1;
    ui.ApplyBtn->setEnabled(true);
}

void TSetForm::IfcListSelect(int position)
{
    settings.interface = ui.IfcList->itemData(position).toInt();
    ui.ApplyBtn->setEnabled(true);
}

void TSetForm::ApplyBtnClick()
{
    try {
        mainForm->SaveSettings();
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
