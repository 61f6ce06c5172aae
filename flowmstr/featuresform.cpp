// SPDX-License-Identifier: MIT
#include "featuresform.h"

#include "forms.h"

#include <QScreen>

TFeatForm::TFeatForm(QWidget *parent) : QDialog(parent)
{
    ui.setupUi(this);
    applyFormFont(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    QPalette memo = ui.Memo1->palette();
    memo.setColor(QPalette::Base, memo.color(QPalette::Window));
    ui.Memo1->setPalette(memo);
    connect(ui.ContBtn, &QPushButton::clicked, this, &QDialog::accept);
    ui.ContBtn->setFocus();
    move(screen()->availableGeometry().center() - rect().center());
}
