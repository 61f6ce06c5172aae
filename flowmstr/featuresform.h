// SPDX-License-Identifier: MIT
// The features dialog shown on the first start and from the download readout.
#ifndef FEATURESFORM_H
#define FEATURESFORM_H

#include "ui_featform.h"

#include <QDialog>

class TFeatForm : public QDialog
{
    Q_OBJECT

public:
    explicit TFeatForm(QWidget *parent = nullptr);

private:
    Ui::TFeatForm ui;
};

#endif // FEATURESFORM_H
