// Help by keyword: how the viewer resolves keywords, the help window it
// shows, the help system's error and F1.
#include "SimpleHTMLHelp.h"
#include "modalcloser.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString &name, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(name).path());
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// A page long enough to scroll, with the anchor "ende" at its bottom.
QByteArray longPage(const char *title)
{
    QByteArray page = QByteArray("<html><body><h1>") + title + "</h1>";
    for (int i = 0; i < 200; ++i)
        page += "<p>Zeile " + QByteArray::number(i) + "</p>";
    return page + "<a name=\"ende\"></a><p>Ende</p></body></html>";
}

} // namespace

class HelpTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(dir.path()));
        writeFile(QStringLiteral("help/help.html"), longPage("Hilfe"));
        writeFile(QStringLiteral("help/Help.HTML"), longPage("Gross"));
        writeFile(QStringLiteral("help/kompakt.htm"), longPage("Kompakt"));
        writeFile(QStringLiteral("help/info.htm"), longPage("Info"));
        writeFile(QStringLiteral("a#b"), "<p>a#b</p>");
    }

    // Each keyword follows an accepted "help/help.html#kompaktmodus", so a
    // refused keyword shows what it leaves behind.
    void countTopics_data()
    {
        QTest::addColumn<QString>("programName");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("topicPath");
        QTest::addColumn<QString>("anchor");
        const QString prog = QStringLiteral("./flowmstr");
        const QString abs = dir.path() + QStringLiteral("/flowmstr");
        const QString dot = QStringLiteral("./help/help.html");
        QTest::newRow("anchor") << prog << "help/help.html#zugangsumgebung" << 1 << dot
                                << "zugangsumgebung";
        QTest::newRow("no anchor") << prog << "help/help.html" << 1 << dot << "";
        QTest::newRow("upper-case .HTML") << prog << "help/Help.HTML#Info" << 1
                                          << "./help/Help.HTML" << "Info";
        QTest::newRow("last # splits") << prog << "a#b#c.htm" << 1 << "./a#b" << "c.htm";
        QTest::newRow("leading slash") << prog << "/help/info.htm" << 1 << ".//help/info.htm" << "";
        QTest::newRow("no .htm") << prog << "#swr" << 0 << dot << "kompaktmodus";
        QTest::newRow("text file") << prog << "help/notes.txt" << 0 << dot << "kompaktmodus";
        QTest::newRow("missing file") << prog << "help/fehlt.htm#x" << 0 << "./help/fehlt.htm"
                                      << "x";
        QTest::newRow("file names keep their case") << prog << "HELP/KOMPAKT.HTM" << 0
                                                    << "./HELP/KOMPAKT.HTM" << "";
        QTest::newRow("empty keyword") << prog << "" << 1 << dot << "kompaktmodus";
        QTest::newRow("started by absolute path") << abs << "help/kompakt.htm" << 1
                                                  << dir.path() + "/help/kompakt.htm" << "";
        QTest::newRow("installed elsewhere") << "/opt/fm/flowmstr" << "help/help.html" << 0
                                             << "/opt/fm/help/help.html" << "";
        QTest::newRow("found on the search path") << "flowmstr" << "help/help.html#info" << 1
                                                  << "help/help.html" << "info";
    }
    void countTopics()
    {
        QFETCH(QString, programName);
        QFETCH(QString, keyword);
        QFETCH(int, count);
        QFETCH(QString, topicPath);
        QFETCH(QString, anchor);
        TSimpleHTMLHelpViewer viewer(programName, nullptr);
        viewer.CountTopics(QStringLiteral("help/help.html#kompaktmodus"));
        QCOMPARE(viewer.CountTopics(keyword), count);
        QCOMPARE(viewer.topicPath(), topicPath);
        QCOMPARE(viewer.anchor(), anchor);
        QCOMPARE(viewer.TopicList(keyword), QStringList{topicPath + anchor});
    }

    // The page is shown in the one help window, scrolled to the anchor.
    void showTopic()
    {
        TSimpleHTMLHelpViewer viewer(QStringLiteral("./flowmstr"), nullptr);
        QString source;
        int scrolled = -1;
        ModalCloser closer([&](QWidget *window) {
            auto *help = qobject_cast<TFormSimpleHTMLHelpViewer *>(window);
            QVERIFY(help);
            source = help->browser()->source().path();
            scrolled = help->browser()->verticalScrollBar()->value();
        });
        QVERIFY(viewer.CountTopics(QStringLiteral("help/help.html#ende")));
        viewer.ShowTopic(QString());
        QCOMPARE(source, QStringLiteral("./help/help.html"));
        QVERIFY(scrolled > 0);
        TFormSimpleHTMLHelpViewer *window = FormSimpleHTMLHelpViewer;
        QVERIFY(window && !window->isVisible());

        QVERIFY(viewer.CountTopics(QStringLiteral("help/kompakt.htm")));
        viewer.ShowTopic(QString());
        QCOMPARE(source, QStringLiteral("./help/kompakt.htm"));
        QCOMPARE(scrolled, 0);
        QCOMPARE(FormSimpleHTMLHelpViewer, window);  // reused

        QVERIFY(viewer.CountTopics(QString()));  // shows the previous topic again
        source.clear();
        viewer.ShowTopic(QString());
        QCOMPARE(source, QStringLiteral("./help/kompakt.htm"));
        QCOMPARE(closer.seen, QStringList(3, QStringLiteral("Orba-DSL FlowMeister - Hilfe")));
    }

    void escapeClosesTheWindow()
    {
        if (!FormSimpleHTMLHelpViewer)
            FormSimpleHTMLHelpViewer = new TFormSimpleHTMLHelpViewer;
        FormSimpleHTMLHelpViewer->show();
        QTextBrowser *browser = FormSimpleHTMLHelpViewer->browser();
        QTest::keyClick(browser, Qt::Key_A);
        QTest::keyClick(browser, Qt::Key_Down);
        QVERIFY(FormSimpleHTMLHelpViewer->isVisible());
        QTest::keyClick(browser, Qt::Key_Escape);
        QVERIFY(!FormSimpleHTMLHelpViewer->isVisible());
    }

    void requestsThroughTheHelpSystem()
    {
        ModalCloser closer;
        HelpSystem::instance().showHelp(QStringLiteral("#swr"));
        HelpSystem::instance().showHelp(QStringLiteral("help/fehlt.htm"));
        HelpSystem::instance().showHelp(QStringLiteral("help/info.htm"));
        QCOMPARE(closer.seen, QStringList({QStringLiteral("No help found for \"#swr\"."),
                                           QStringLiteral("No help found for \"help/fehlt.htm\"."),
                                           QStringLiteral("Orba-DSL FlowMeister - Hilfe")}));
    }

    // F1 takes the focused control's keyword, else the nearest parent's.
    void helpKey()
    {
        QWidget window;
        window.setProperty("helpKeyword", QStringLiteral("help/kompakt.htm"));
        auto *page = new QWidget(&window);
        auto *withOwn = new QLineEdit(page);
        auto *without = new QLineEdit(page);
        withOwn->setProperty("helpKeyword", QStringLiteral("help/info.htm#ende"));
        QString source;
        ModalCloser closer([&](QWidget *) {
            source = FormSimpleHTMLHelpViewer->browser()->source().path();
        });
        QTest::keyClick(withOwn, Qt::Key_F1);
        QCOMPARE(source, QStringLiteral("./help/info.htm"));
        QTest::keyClick(without, Qt::Key_F1);
        QCOMPARE(source, QStringLiteral("./help/kompakt.htm"));
        QCOMPARE(closer.seen.size(), 2);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerHelpViewer(QStringLiteral("./flowmstr"));
    HelpTest test;
    const int result = QTest::qExec(&test, argc, argv);
    HelpSystem::instance().shutdown();
    return result;
}

#include "help_test.moc"
