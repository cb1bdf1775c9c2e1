#pragma once

#include "textcounts.h"

#include <QWidget>

#include <memory>

class QLabel;
class QTimer;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

// The row under the document: the mode, the word and character counts and the reading time on
// the left; whether the text is saved and which file it is on the right. The counts follow the
// text a moment after typing stops, so that a keystroke in a long note never waits for them.
class StatusBar : public QWidget
{
    Q_OBJECT

public:
    // How long the text must rest before it is counted again.
    static constexpr int kRecountDelayMs = 150;
    // Texts longer than this (in UTF-16 units) are counted off the main thread.
    static constexpr qsizetype kBackgroundThreshold = 1'000'000;

    explicit StatusBar(core::DocumentModel &model, QWidget *parent = nullptr);
    ~StatusBar() override;

    // The texts of the shown items, left to right.
    QStringList itemTexts() const;
    TextCounts counts() const { return m_counts; }
    // True once the counts describe the text as it was at the last textChanged().
    bool countsCurrent() const { return m_counted == m_generation; }
    // A long text is being counted off the main thread.
    bool counting() const { return m_running; }

public Q_SLOTS:
    // The document's text changed; it is counted again once it rests.
    void textChanged();

Q_SIGNALS:
    void countsChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Mailbox;
    class ElidedLabel;

    void recount();
    void takeCounts(quint64 generation, TextCounts counts);
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

    TextCounts m_counts;
    // Every change of the text starts a generation; the shown counts are of `m_counted`.
    quint64 m_generation = 1;
    quint64 m_counted = 0;
    // A background count is under way; at most one runs at a time.
    bool m_running = false;
    std::shared_ptr<Mailbox> m_mailbox;
};

} // namespace quorvel::app
