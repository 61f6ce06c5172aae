// SPDX-License-Identifier: MIT
// The settings dialog with known interfaces in the test's own network
// namespace, and the "Einstellungen" command around it.  Needs root.
#include "capturethread.h"
#include "core.h"
#include "meter.h"
#include "settings.h"
#include "SimpleHTMLHelp.h"
#include "support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>

#include <cstring>
#include <memory>

namespace {

QStringList kernelList()
{
    QStringList names;
    LIBFMSINFO scratch{};
    for (scratch.index = 0; libfms_interfaceinfo(&scratch) == 0; scratch.index++)
        names << QString::fromLatin1(scratch.interface);
    return names;
}

QStringList entries(const QComboBox *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->itemText(i);
    return names;
}

void choose(QComboBox *list, const QString &name)
{
    const int position = list->findText(name);
    list->setCurrentIndex(position);
    emit list->activated(position);
}

} // namespace

class SettingsDialogTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;

    void start(int interfaceNumber, int location = 0)
    {
        QVERIFY(QDir::setCurrent(dir.path()));
        writeIniFile(QStringLiteral("[settings]\nfirstrun=1\ninterface=%1\nlocation=%2\n")
                         .arg(interfaceNumber).arg(location).toLatin1());
        form = std::make_unique<TMainForm>();
    }

    // The dialog as the main window opens it.
    std::function<void()> save()
    {
        return [this] { form->SaveSettings(); };
    }

    // Runs the "Einstellungen" command; `use` works the dialog's buttons.
    void einstellungen(const std::function<void(QWidget *)> &use)
    {
        ModalCloser closer([&](QWidget *dialog) { use(dialog); });
        child<QAction>(form.get(), "Einstellungen")->trigger();
        QCOMPARE(closer.seen, QStringList{"Orba-DSL FlowMeister - Einstellungen"});
    }

private slots:
    void initTestCase()
    {
        registerHelpViewer(dir.path());
        testnet::addVeth("fmsset0", "192.0.2.1/24", "fmsset1", "198.51.100.1/24");
        writeFile(dir.filePath(QStringLiteral("help/help.html")),
                  "<a name=\"zugangsumgebung\"></a><p>Zugangsumgebung</p>");
    }

    void cleanup() { form.reset(); }

    void listsTheInterfacesInKernelOrder()
    {
        start(1);
        TSetForm dialog(form.get(), settings, save());
        const QComboBox *list = child<QComboBox>(&dialog, "IfcList");
        QCOMPARE(entries(list), kernelList());
        QCOMPARE(list->currentIndex(), 1);
        QCOMPARE(settings.interface, 1);
        QVERIFY(!child<QPushButton>(&dialog, "ApplyBtn")->isEnabled());
    }

    void numberBeyondTheListBecomesTheFirstEntry()
    {
        start(kernelList().size());
        TSetForm(form.get(), settings, save()).reject();
        QCOMPARE(settings.interface, 0);
    }

    void connectionType()
    {
        start(0, 1);
        TSetForm dialog(form.get(), settings, save());
        auto *direct = child<QCheckBox>(&dialog, "DirectConnection");
        QVERIFY(!direct->isChecked());
        direct->click();
        QCOMPARE(settings.location, 0);
        QVERIFY(child<QPushButton>(&dialog, "ApplyBtn")->isEnabled());
        direct->click();
        QCOMPARE(settings.location, 1);
    }

    // Apply saves at once; Cancel then leaves monitoring where it was.
    void applyThenCancel()
    {
        start(0);
        const QByteArray monitored(form->meter().record().interface);
        einstellungen([](QWidget *dialog) {
            choose(child<QComboBox>(dialog, "IfcList"), QStringLiteral("fmsset0"));
            auto *apply = child<QPushButton>(dialog, "ApplyBtn");
            QVERIFY(apply->isEnabled());
            apply->click();
            QVERIFY(!apply->isEnabled());
            child<QPushButton>(dialog, "CancelBtn")->click();
        });
        const QByteArray number = QByteArray::number(kernelList().indexOf("fmsset0"));
        QVERIFY(readFile(QStringLiteral("flowmstr.ini")).contains("\ninterface=" + number + "\n"));
        QCOMPARE(QByteArray(form->meter().record().interface), monitored);
    }

    // OK without changes: saved, monitoring restarted, button ready again.
    void okRestartsMonitoring()
    {
        start(kernelList().indexOf("fmsset0"));
        QFile::remove(QStringLiteral("flowmstr.ini"));
        form->SetCheckState(2);
        const int generation = form->meter().generation();
        einstellungen([](QWidget *dialog) { child<QPushButton>(dialog, "OKBtn")->click(); });
        QVERIFY(readFile(QStringLiteral("flowmstr.ini")).startsWith("[settings]\nlocation=0\n"));
        QVERIFY(form->meter().generation() > generation);
        QCOMPARE(QByteArray(form->meter().record().interface), QByteArray("fmsset0"));
        auto *button = child<QToolButton>(form.get(), "ConnectionCheck");
        QVERIFY(button->isEnabled());
        QCOMPARE(button->toolTip(), QStringLiteral("Verbindungstest durchführen"));
    }

    // A choice left with Cancel is not taken up by the next link event either.
    void cancelLeavesMonitoringAlone()
    {
        start(0);
        const int generation = form->meter().generation();
        einstellungen([](QWidget *dialog) {
            choose(child<QComboBox>(dialog, "IfcList"), QStringLiteral("fmsset0"));
            child<QPushButton>(dialog, "CancelBtn")->click();
        });
        form->meter().linkChanged();
        QCOMPARE(form->meter().generation(), generation);
        QCOMPARE(QByteArray(form->meter().record().interface), kernelList().value(0).toLatin1());
    }

    // A failing save: an error box; Apply keeps the dialog open, OK closes it.
    void failingSave()
    {
        start(0);
        TSetForm dialog(form.get(), settings, save());
        dialog.show();
        QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));  // nobody creates files here
        child<QCheckBox>(&dialog, "DirectConnection")->click();
        ModalCloser closer;
        child<QPushButton>(&dialog, "ApplyBtn")->click();
        QCOMPARE(closer.seen, QStringList{"Cannot create file flowmstr.ini."});
        QVERIFY(dialog.isVisible());
        QVERIFY(child<QPushButton>(&dialog, "ApplyBtn")->isEnabled());
        child<QPushButton>(&dialog, "OKBtn")->click();
        QCOMPARE(closer.seen.size(), 2);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // Entries keep the numbers they were resolved from, also when a number
    // in the middle fails.
    void entriesKeepTheirNumbers()
    {
        start(0);
        const auto withGap = [](PLIBFMSINFO info) {
            return info->index == 1 ? -3 : libfms_interfaceinfo(info);
        };
        const QStringList all = kernelList();
        QVERIFY(all.size() >= 3);
        {
            TSetForm dialog(form.get(), settings, save(), withGap);
            auto *list = child<QComboBox>(&dialog, "IfcList");
            QCOMPARE(list->count(), all.size() - 1);
            choose(list, all[2]);
            QCOMPARE(settings.interface, 2);
        }
        TSetForm again(form.get(), settings, save(), withGap);
        QCOMPARE(child<QComboBox>(&again, "IfcList")->currentText(), all[2]);
    }

    void helpKeys()
    {
        start(0);
        TSetForm dialog(form.get(), settings, save());
        QString source;
        ModalCloser closer([&](QWidget *help) {
            source = help->findChild<QTextBrowser *>()->source().toString();
        });
        child<QPushButton>(&dialog, "Help")->click();
        QTest::keyClick(child<QComboBox>(&dialog, "IfcList"), Qt::Key_F1);
        QCOMPARE(closer.seen, QStringList(2, "Orba-DSL FlowMeister - Hilfe"));
        QCOMPARE(source, QUrl::fromLocalFile(dir.filePath("help/help.html")).toString());
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<SettingsDialogTest>(argc, argv);
}

#include "settingsdialog_test.moc"
