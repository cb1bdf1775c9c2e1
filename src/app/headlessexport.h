#pragma once

#include "core/documentmodel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

namespace quorvel::preview {
class PreviewController;
}

class QWidget;

namespace quorvel::app {

// One Markdown file to PDF, HTML or Markdown from the command line, through the same page that
// renders documents in windows. Ends with finished(status): 0 written; 1 bad arguments or
// an unreadable input or an output it must not write (said on standard error); 2 rendered but the
// output could not be produced or written (said when the writer knows why); 3 the page did not
// finish in time (said on standard error).
class HeadlessExport : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTimeout{30};
    static constexpr std::chrono::minutes kWriteTimeout{10};
    // Larger notes are refused: the page would take minutes and gigabytes over them.
    static constexpr qint64 kInputLimit = 64 * 1024 * 1024;

    HeadlessExport(QString format, QString input, QString output, QObject *parent = nullptr);
    ~HeadlessExport() override;

    // Checks the arguments, then starts the page; returns at once.
    void run();

    // What `format` may be, compared exactly.
    static bool knownFormat(const QString &format);

Q_SIGNALS:
    void finished(int status);

private:
    void afterRender(preview::PreviewController *controller);
    void exportAs(const QString &format);
    void writeOutput(const std::optional<QString> &text);
    void finish(int status, const QString &message = QString());

    QString m_format;
    QString m_input;
    QString m_output;
    std::unique_ptr<core::DocumentModel> m_model;
    std::unique_ptr<QWidget> m_window;
    QString m_text;
    QTimer m_deadline;
    bool m_done = false;
};

} // namespace quorvel::app
