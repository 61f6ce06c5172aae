// SPDX-License-Identifier: MIT
// What the program's windows share.
#ifndef FORMS_H
#define FORMS_H

#include <QList>
#include <QPixmap>
#include <QString>

class QWidget;

// Window caption of the program's message boxes.
extern const QString ApplicationTitle;

// The design font, "helvetica" with lines 11 pixels high, for a window and
// its controls.
void applyFormFont(QWidget *window, int height = 11);

// A picture whose magenta pixels are transparent.  Pictures are made for the
// screens' device pixel ratio, enlarged crisply.
QPixmap transparentPixmap(const QString &path);

// The images of a list stored side by side in one picture, row by row;
// their magenta pixels transparent if asked.
QList<QPixmap> imageList(const QString &path, QSize cell, bool transparent = false);

// Reports an error the way unhandled ones are: an error box with the text and
// a full stop.
void showError(QWidget *parent, const QString &text);

// A file that could not be saved on closing: the error, what was not saved,
// and the choice between closing without saving and staying open, so that a
// file that can't be written never keeps the window open.  True: close.
bool askCloseWithoutSaving(QWidget *parent, const QString &error, const QString &consequence);

#endif // FORMS_H
