#pragma once

#include "core/documentmodel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace quorvel::app {

class DocumentWindow;

// Opens documents into windows of their own: one window per file (opening an open file raises
// its window), untitled documents, the Open dialog.
class DocumentController : public QObject
{
    Q_OBJECT

public:
    static DocumentController &shared();

    // Opens the file, or raises its window when it is already open. Reports a file that cannot
    // be read in an alert and on standard error, and returns null.
    DocumentWindow *openDocument(const QString &path, bool display = true);
    DocumentWindow *newDocument(bool display = true);
    void showOpenDialog(QWidget *parent = nullptr);

    QList<DocumentWindow *> windows() const;
    // The files opened last, newest first, at most ten, those gone since left out.
    QStringList recentDocuments() const;
    // The same list with the files gone since (moved or deleted), for a menu to show them as gone.
    QStringList recentEntries() const;
    void forgetRecent(const QString &path);
    void clearRecent();
    // Quit: every window is asked first (a draft to save, a save that failed), and only when
    // none is cancelled do they all close; a Cancel anywhere keeps every window open.
    bool closeAllWindows();
    DocumentWindow *windowForPath(const QString &path) const;

    // Turned off by tests and command-line modes, where a modal alert would block forever.
    void setAlertsEnabled(bool enabled) { m_alertsEnabled = enabled; }
    // The clock, store and settings of the models of windows opened from now on.
    void setModelEnvironment(const core::ModelEnvironment &environment);

Q_SIGNALS:
    void openFailed(const QString &path, const QString &message);

private:
    DocumentWindow *adopt(DocumentWindow *window, bool display);
    void remember(const QString &path);
    void follow(DocumentWindow *window);
    core::ModelEnvironment environment() const;

    QList<QPointer<DocumentWindow>> m_windows;
    bool m_alertsEnabled = true;
    std::optional<core::ModelEnvironment> m_environment;
};

} // namespace quorvel::app
