// SPDX-License-Identifier: MIT
#include "SimpleHTMLHelp.h"

#include "forms.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>

TFormSimpleHTMLHelpViewer *FormSimpleHTMLHelpViewer = nullptr;

// Help keywords are kept as this dynamic property of widgets and actions.
static const char KeywordProperty[] = "helpKeyword";

HelpSystem &HelpSystem::instance()
{
    static HelpSystem system;
    return system;
}

HelpSystem::HelpSystem()
{
    QCoreApplication::instance()->installEventFilter(this);
}

void HelpSystem::join(const std::shared_ptr<ICustomHelpViewer> &viewer)
{
    viewers.push_back(viewer);
    viewer->AssignViewerId(int(viewers.size()));
}

static void noHelpFound(QWidget *parent, const QString &keyword)
{
    showError(parent, QStringLiteral("No help found for \"%1\"").arg(keyword));
}

void HelpSystem::showHelp(const QString &keyword, QWidget *parent)
{
    for (const std::shared_ptr<ICustomHelpViewer> &viewer : viewers) {
        if (viewer->CountTopics(keyword) > 0) {
            viewer->ShowTopic(keyword);
            return;
        }
    }
    noHelpFound(parent, keyword);
}

void HelpSystem::shutdown()
{
    for (const std::shared_ptr<ICustomHelpViewer> &viewer : viewers)
        viewer->FinalShutdown();
}

QString HelpSystem::keywordOf(const QObject *object)
{
    if (auto *menu = qobject_cast<const QMenu *>(object))
        return menu->activeAction() ? keywordOf(menu->activeAction()) : QString();
    return object->property(KeywordProperty).toString();
}

// F1 asks for the keyword of the focused control (where key presses go
// first), else of its parents up to the window.
bool HelpSystem::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent *>(event)->key() != Qt::Key_F1 ||
        !watched->isWidgetType())
        return false;
    for (auto *w = static_cast<QWidget *>(watched); w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QString keyword = keywordOf(w);
        if (!keyword.isEmpty()) {
            showHelp(keyword, w->window());
            return true;
        }
    }
    return false;
}

TFormSimpleHTMLHelpViewer::TFormSimpleHTMLHelpViewer(QWidget *parent) : QDialog(parent)
{
    ui.setupUi(this);
    applyFormFont(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui.Browser->setOpenLinks(false);
    connect(ui.Browser, &QTextBrowser::anchorClicked, this,
            &TFormSimpleHTMLHelpViewer::BrowserAnchorClicked);
    ui.Browser->installEventFilter(this);  // the window sees keys first
}

bool TFormSimpleHTMLHelpViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui.Browser && event->type() == QEvent::KeyPress)
        return FormKeyPress(static_cast<QKeyEvent *>(event)->key());
    return QDialog::eventFilter(watched, event);
}

// Escape closes the window; other keys go on to the browser.
bool TFormSimpleHTMLHelpViewer::FormKeyPress(int key)
{
    if (key != Qt::Key_Escape)
        return false;
    close();
    return true;
}

// A link resolves against the page's absolute file: URL, so it works from
// any working directory.  Pages below the help directory open here, web
// pages in the user's browser; anything else is refused.
void TFormSimpleHTMLHelpViewer::BrowserAnchorClicked(const QUrl &link)
{
    const QUrl url = ui.Browser->source().resolved(link);
    if (url.scheme() == u"http" || url.scheme() == u"https")
        QDesktopServices::openUrl(url);
    else if (url.isLocalFile() && isHelpFile(url.toLocalFile(), helpDir))
        ui.Browser->setSource(url);
    else
        noHelpFound(this, link.toString());
}

QString helpDirectory(const QString &programDir)
{
    const QString beside = QDir::cleanPath(programDir + QStringLiteral("/help"));
    const QString installed = QDir::cleanPath(programDir + QStringLiteral("/../share/flowmstr/help"));
    return QFileInfo(beside).isDir() || !QFileInfo(installed).isDir() ? beside : installed;
}

bool isHelpFile(const QString &path, const QString &directory)
{
    const QString inside = QFileInfo(directory).canonicalFilePath();
    const QFileInfo file(path);
    return file.isFile() && !inside.isEmpty() && file.canonicalFilePath().startsWith(inside + u'/');
}

TSimpleHTMLHelpViewer::TSimpleHTMLHelpViewer(const QString &programDir, HelpSystem *system)
    : helpSystem(system), m_programDir(programDir)
{
}

QString TSimpleHTMLHelpViewer::ViewerName()
{
    return QStringLiteral("Orba-DSL HelpViewer");
}

// Accepts a keyword naming an HTML file below the help directory.
int TSimpleHTMLHelpViewer::CountTopics(const QString &keyword)
{
    if (keyword.isEmpty())
        return 1;  // shows the previous topic again
    if (!keyword.toLower().contains(QLatin1String(".htm")))
        return 0;
    const qsizetype hash = keyword.lastIndexOf(u'#');
    m_anchor = hash < 0 ? QString() : keyword.mid(hash + 1);
    m_topicPath = QDir::cleanPath(directory() + (hash < 0 ? keyword : keyword.left(hash)));
    return isHelpFile(m_topicPath, helpDirectory(m_programDir)) ? 1 : 0;
}

QStringList TSimpleHTMLHelpViewer::TopicList(const QString &)
{
    return {m_topicPath + m_anchor};
}

bool TSimpleHTMLHelpViewer::HasContents()
{
    return helpSystem && QFileInfo::exists(helpSystem->CurrentHelpFile());
}

void TSimpleHTMLHelpViewer::ShowContents()
{
    show(helpSystem ? helpSystem->CurrentHelpFile() : QString(), QString());
}

void TSimpleHTMLHelpViewer::ShowTopic(const QString &)
{
    show(m_topicPath, m_anchor);
}

void TSimpleHTMLHelpViewer::AssignViewerId(int id)
{
    viewerId = id;
}

void TSimpleHTMLHelpViewer::CloseHelp()
{
    if (FormSimpleHTMLHelpViewer)
        FormSimpleHTMLHelpViewer->close();
    helpSystem = nullptr;
}

void TSimpleHTMLHelpViewer::FinalShutdown() {}

// Up to and including the last "/" of the current help file or, without
// one, of the help directory.
QString TSimpleHTMLHelpViewer::directory() const
{
    QString file = helpSystem ? helpSystem->CurrentHelpFile() : QString();
    if (file.isEmpty())
        file = helpDirectory(m_programDir);
    return file.left(file.lastIndexOf(u'/') + 1);
}

// Loads the file, scrolls to the anchor and shows the help window modally.
void TSimpleHTMLHelpViewer::show(const QString &file, const QString &anchor)
{
    if (!FormSimpleHTMLHelpViewer)
        FormSimpleHTMLHelpViewer = new TFormSimpleHTMLHelpViewer;
    FormSimpleHTMLHelpViewer->setHelpDirectory(helpDirectory(m_programDir));
    QTextBrowser *browser = FormSimpleHTMLHelpViewer->browser();
    if (file.isEmpty()) {
        browser->setSource(QUrl());
        browser->clear();
    } else {
        browser->setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
    }
    if (!anchor.isEmpty())
        browser->scrollToAnchor(anchor);
    FormSimpleHTMLHelpViewer->exec();
}

void registerHelpViewer(const QString &programDir)
{
    HelpSystem &system = HelpSystem::instance();
    system.join(std::make_shared<TSimpleHTMLHelpViewer>(programDir, &system));
}
