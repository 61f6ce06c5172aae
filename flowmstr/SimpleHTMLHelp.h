// SPDX-License-Identifier: MIT
// Help by keyword: the help system that dispatches keyword requests to the
// viewers that joined it, the program's HTML viewer, and its help window.
// A keyword names an HTML file, optionally followed by "#" and an anchor.
#ifndef SIMPLEHTMLHELP_H
#define SIMPLEHTMLHELP_H

#include "ui_helpviewer.h"

#include <QDialog>
#include <QStringList>

#include <memory>
#include <vector>

class HelpSystem;

// What the help system asks of a viewer.
class ICustomHelpViewer
{
public:
    virtual ~ICustomHelpViewer() = default;
    virtual QString ViewerName() = 0;
    virtual int CountTopics(const QString &keyword) = 0;
    virtual QStringList TopicList(const QString &keyword) = 0;
    virtual bool HasContents() = 0;
    virtual void ShowContents() = 0;
    virtual void ShowTopic(const QString &keyword) = 0;
    virtual void AssignViewerId(int id) = 0;
    virtual void CloseHelp() = 0;
    virtual void FinalShutdown() = 0;
};

// The application's help system: keyword requests from commands and from
// F1 (the focused control's keyword, else its parents').
class HelpSystem : public QObject
{
public:
    static HelpSystem &instance();

    // Takes a viewer into the list and gives it its id.
    void join(const std::shared_ptr<ICustomHelpViewer> &viewer);
    // The help file of the current request; none is ever named here.
    QString CurrentHelpFile() const { return QString(); }
    // Shows the topic, or the error "No help found for "keyword"".
    void showHelp(const QString &keyword, QWidget *parent = nullptr);
    // The end of the program: every viewer's FinalShutdown.
    void shutdown();

    // The keyword a widget or action carries, empty if none.
    static QString keywordOf(const QObject *object);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    HelpSystem();
    std::vector<std::shared_ptr<ICustomHelpViewer>> viewers;
};

// The help pages' directory: "help" beside the program, else where an
// installation puts it, "../share/flowmstr/help" from the program.
QString helpDirectory(const QString &programDir);

// Whether `path` names a file inside `directory`, also with links resolved.
bool isHelpFile(const QString &path, const QString &directory);

// The help window: one page in a browser; modal; Escape closes (hides) it.
// Its links open only pages below the help directory; web links open in the
// user's browser.
class TFormSimpleHTMLHelpViewer : public QDialog
{
    Q_OBJECT

public:
    explicit TFormSimpleHTMLHelpViewer(QWidget *parent = nullptr);
    QTextBrowser *browser() const { return ui.Browser; }
    void setHelpDirectory(const QString &directory) { helpDir = directory; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool FormKeyPress(int key);
    void BrowserAnchorClicked(const QUrl &link);

    Ui::TFormSimpleHTMLHelpViewer ui;
    QString helpDir;
};

// The one help window of the run, created at start-up or by the first topic.
extern TFormSimpleHTMLHelpViewer *FormSimpleHTMLHelpViewer;

// Shows topics naming a file below the help directory.  A keyword's file
// part is taken from the directory that holds the help directory, so
// "help/kompakt.htm" names the page kompakt.htm in it.
class TSimpleHTMLHelpViewer : public ICustomHelpViewer
{
public:
    // programDir: the directory of the program's file; system: the help
    // system it joins.
    TSimpleHTMLHelpViewer(const QString &programDir, HelpSystem *system);

    QString ViewerName() override;
    int CountTopics(const QString &keyword) override;
    QStringList TopicList(const QString &keyword) override;
    bool HasContents() override;
    void ShowContents() override;
    void ShowTopic(const QString &keyword) override;
    void AssignViewerId(int id) override;
    void CloseHelp() override;
    void FinalShutdown() override;

    QString topicPath() const { return m_topicPath; }
    QString anchor() const { return m_anchor; }

private:
    QString directory() const;
    void show(const QString &file, const QString &anchor);

    int viewerId = 0;
    HelpSystem *helpSystem = nullptr;
    QString m_programDir;
    QString m_topicPath;
    QString m_anchor;
};

// Joins the program's viewer to the help system (before any window exists).
void registerHelpViewer(const QString &programDir);

#endif // SIMPLEHTMLHELP_H
