// Closes every modal window of the application as soon as it is up, noting
// its title (a message box: its text), so tests can drive code that opens
// dialogs and message boxes.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <functional>

class ModalCloser : public QObject
{
public:
    // `onOpen` runs as each window is seen, before it is closed (unless
    // onOpen closed it itself, say with one of its buttons).
    explicit ModalCloser(std::function<void(QWidget *)> onOpen = {}) : onOpen(std::move(onOpen))
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            auto *box = qobject_cast<QMessageBox *>(modal);
            seen << (box ? box->text() : modal->windowTitle());
            if (this->onOpen)
                this->onOpen(modal);
            auto *dialog = qobject_cast<QDialog *>(modal);
            if (dialog && dialog->isVisible())
                dialog->accept();
        });
        timer.start(5);
    }
    QStringList seen;

private:
    std::function<void(QWidget *)> onOpen;
    QTimer timer;
};
