// SPDX-License-Identifier: MIT
// Help by keyword: how the viewer resolves keywords, the help window it
// shows, the help system's error and F1.
#include "SimpleHTMLHelp.h"
#include "support.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>

namespace {

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
    QUrl opened;  // what went to the user's browser

    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

public slots:
    void openUrl(const QUrl &url) { opened = url; }

private slots:
    // The program "lives" in dir, with its pages in dir/help; an installed
    // one in dir/inst/bin, with its pages in dir/inst/share/flowmstr/help.
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(QDir::rootPath()));  // pages never depend on it
        writeFile(path("help/help.html"), longPage("Hilfe"));
        writeFile(path("help/Help.HTML"), longPage("Gross"));
        writeFile(path("help/kompakt.htm"), longPage("Kompakt"));
        writeFile(path("help/info.htm"), longPage("Info"));
        writeFile(path("help/a#b"), "<p>a#b</p>");
        writeFile(path("secret.htm"), "<p>secret</p>");
        QVERIFY(QFile::link(path("secret.htm"), path("help/escape.htm")));
        writeFile(path("inst/share/flowmstr/help/help.html"), "<p>installed</p>");
        QVERIFY(QDir().mkpath(path("inst/bin")));
        registerHelpViewer(dir.path());
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    // Each keyword follows an accepted "help/help.html#kompaktmodus", so a
    // refused keyword shows what it leaves behind.
    void countTopics_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("topicPath");
        QTest::addColumn<QString>("anchor");
        const QString prog = dir.path();
        const QString page = path("help/help.html");
        QTest::newRow("anchor") << prog << "help/help.html#zugangsumgebung" << 1 << page
                                << "zugangsumgebung";
        QTest::newRow("no anchor") << prog << "help/help.html" << 1 << page << "";
        QTest::newRow("upper-case .HTML") << prog << "help/Help.HTML#Info" << 1
                                          << path("help/Help.HTML") << "Info";
        QTest::newRow("last # splits") << prog << "help/a#b#c.htm" << 1 << path("help/a#b")
                                       << "c.htm";
        QTest::newRow("leading slash") << prog << "/help/info.htm" << 1 << path("help/info.htm") << "";
        QTest::newRow("no .htm") << prog << "#swr" << 0 << page << "kompaktmodus";
        QTest::newRow("text file") << prog << "help/notes.txt" << 0 << page << "kompaktmodus";
        QTest::newRow("missing file") << prog << "help/fehlt.htm#x" << 0 << path("help/fehlt.htm")
                                      << "x";
        QTest::newRow("file names keep their case") << prog << "HELP/KOMPAKT.HTM" << 0
                                                    << path("HELP/KOMPAKT.HTM") << "";
        QTest::newRow("empty keyword") << prog << "" << 1 << page << "kompaktmodus";
        QTest::newRow("beside the help directory") << prog << "help/../secret.htm" << 0
                                                   << path("secret.htm") << "";
        QTest::newRow("link out of it") << prog << "help/escape.htm" << 0
                                        << path("help/escape.htm") << "";
        const char *const up = "help/../../../../../../../etc/passwd";
        QTest::newRow("up to /etc") << prog << up + QString("#.htm") << 0
                                    << QDir::cleanPath(path(up)) << ".htm";
        QTest::newRow("installed") << path("inst/bin") << "help/help.html#info" << 1
                                   << path("inst/share/flowmstr/help/help.html") << "info";
        QTest::newRow("no help directory") << "/nonexistent/bin" << "help/help.html" << 0
                                           << "/nonexistent/bin/help/help.html" << "";
    }
    void countTopics()
    {
        QFETCH(QString, programDir);
        QFETCH(QString, keyword);
        QFETCH(int, count);
        QFETCH(QString, topicPath);
        QFETCH(QString, anchor);
        TSimpleHTMLHelpViewer viewer(programDir, nullptr);
        viewer.CountTopics(QStringLiteral("help/help.html#kompaktmodus"));
        QCOMPARE(viewer.CountTopics(keyword), count);
        QCOMPARE(viewer.topicPath(), topicPath);
        QCOMPARE(viewer.anchor(), anchor);
        QCOMPARE(viewer.TopicList(keyword), QStringList{topicPath + anchor});
    }

    // The page is shown in the one help window, scrolled to the anchor.
    void showTopic()
    {
        TSimpleHTMLHelpViewer viewer(dir.path(), nullptr);
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
        QCOMPARE(source, path("help/help.html"));
        QVERIFY(scrolled > 0);
        TFormSimpleHTMLHelpViewer *window = FormSimpleHTMLHelpViewer;
        QVERIFY(window && !window->isVisible());

        QVERIFY(viewer.CountTopics(QStringLiteral("help/kompakt.htm")));
        viewer.ShowTopic(QString());
        QCOMPARE(source, path("help/kompakt.htm"));
        QCOMPARE(scrolled, 0);
        QCOMPARE(FormSimpleHTMLHelpViewer, window);  // reused

        QVERIFY(viewer.CountTopics(QString()));  // shows the previous topic again
        source.clear();
        viewer.ShowTopic(QString());
        QCOMPARE(source, path("help/kompakt.htm"));
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

    // Links of help/help.html: pages below the help directory in the window,
    // web pages in the user's browser, anything else refused.
    void links_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("shown");  // relative to dir; empty: unchanged
        QTest::addColumn<QString>("opened");
        QTest::newRow("page beside") << "kompakt.htm" << "help/kompakt.htm" << "";
        QTest::newRow("anchor") << "#ende" << "help/help.html#ende" << "";
        QTest::newRow("page and anchor") << "info.htm#ende" << "help/info.htm#ende" << "";
        QTest::newRow("absolute URL inside")
            << QUrl::fromLocalFile(path("help/info.htm")).toString() << "help/info.htm" << "";
        QTest::newRow("beside the help directory") << "../secret.htm" << "" << "";
        QTest::newRow("up to /etc") << "../../../../../../etc/hostname" << "" << "";
        QTest::newRow("absolute URL outside") << "file:///etc/passwd" << "" << "";
        QTest::newRow("link out of it") << "escape.htm" << "" << "";
        QTest::newRow("other scheme") << "ftp://example.org/x.htm" << "" << "";
        QTest::newRow("http") << "http://example.org/" << "" << "http://example.org/";
        QTest::newRow("https") << "https://example.org/a#b" << "" << "https://example.org/a#b";
    }
    void links()
    {
        QFETCH(QString, link);
        QFETCH(QString, shown);
        QFETCH(QString, opened);
        TFormSimpleHTMLHelpViewer window;
        window.setHelpDirectory(path("help"));
        const QUrl page = QUrl::fromLocalFile(path("help/help.html"));
        window.browser()->setSource(page);
        this->opened.clear();
        ModalCloser closer;
        emit window.browser()->anchorClicked(QUrl(link));
        const bool refused = shown.isEmpty() && opened.isEmpty();
        QCOMPARE(closer.seen, refused ? QStringList{"No help found for \"" + link + "\"."} : QStringList());
        const QUrl base = QUrl::fromLocalFile(dir.path() + u'/');
        QCOMPARE(window.browser()->source(), shown.isEmpty() ? page : base.resolved(QUrl(shown)));
        QCOMPARE(this->opened, QUrl(opened));
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
        QCOMPARE(source, path("help/info.htm"));
        QTest::keyClick(without, Qt::Key_F1);
        QCOMPARE(source, path("help/kompakt.htm"));
        QCOMPARE(closer.seen.size(), 2);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    HelpTest test;
    const int result = QTest::qExec(&test, argc, argv);
    HelpSystem::instance().shutdown();
    return result;
}

#include "help_test.moc"
