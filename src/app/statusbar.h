#pragma once

#include "textcounts.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QTimer;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

// The row under the document: the mode, the word and character counts and the reading time on
// the left; whether the text is saved and which file it is on the right. The counts are of what
// a reader sees (no markup, link addresses or front matter) and, while something is selected,
// of the selection beside the note's. They follow the text a moment after typing stops, so that
// a keystroke in a long note never waits for them.
class StatusBar : public QWidget
{
    Q_OBJECT

public:
    // How long the text must rest before it is counted again.
    static constexpr int kRecountDelayMs = 150;
    // Counts that read more than this many UTF-16 units of Markdown are made off the main thread.
    static constexpr qsizetype kBackgroundThreshold = 100'000;

    // What is selected: a span of the note's Markdown, or text as the page shows it.
    struct Selection
    {
        QString text;
        bool markdown = false;
        qsizetype from = 0;
        qsizetype to = -1;
    };
    // Asked for the current selection each time the counts are made; nothing when there is none.
    using SelectionSource = std::function<std::optional<Selection>()>;

    explicit StatusBar(core::DocumentModel &model, QWidget *parent = nullptr);
    ~StatusBar() override;

    void setSelectionSource(SelectionSource source);

    // The texts of the shown items, left to right.
    QStringList itemTexts() const;
    // The whole note's counts, and the selection's while there is one.
    TextCounts counts() const { return m_counts; }
    std::optional<TextCounts> selectionCounts() const { return m_selectionCounts; }
    // True once the counts describe the text and the selection as they were at the last change.
    bool countsCurrent() const { return m_counted == m_generation; }
    // A long text is being counted off the main thread.
    bool counting() const { return m_running; }

public Q_SLOTS:
    // The document's text changed; it is counted again once it rests.
    void textChanged();
    // The selection changed; it is counted again once it rests.
    void selectionChanged();

Q_SIGNALS:
    void countsChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Mailbox;
    class ElidedLabel;
    struct Job;
    struct Result;

    void changed();
    void recount();
    void takeCounts(const Result &result);
    void showCounts();
    void showState();

    core::DocumentModel &m_model;
    QLabel *m_mode = nullptr;
    QLabel *m_words = nullptr;
    QLabel *m_characters = nullptr;
    QLabel *m_minutes = nullptr;
    QLabel *m_saveState = nullptr;
    ElidedLabel *m_file = nullptr;
    QTimer *m_recount = nullptr;
    SelectionSource m_selectionSource;

    TextCounts m_counts;
    std::optional<TextCounts> m_selectionCounts;
    // Every change of the text or the selection starts a generation; the shown counts are of
    // `m_counted`. The note's own counts are of the text's generation `m_noteCounted`, so that
    // a new selection does not count the whole note again.
    quint64 m_generation = 1;
    quint64 m_counted = 0;
    quint64 m_noteGeneration = 1;
    quint64 m_noteCounted = 0;
    // A background count is under way; at most one runs at a time.
    bool m_running = false;
    std::shared_ptr<Mailbox> m_mailbox;
};

} // namespace quorvel::app
