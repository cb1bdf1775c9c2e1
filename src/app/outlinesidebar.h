#pragma once

#include "core/outlineitem.h"

#include <QFont>
#include <QWidget>

class QAbstractButton;
class QLabel;
class QListView;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

// The document's headings beside it, one row each, indented by level; choosing one asks the
// window to go there. The list is drawn by a delegate over the model's outline, so that a note
// of thousands of headings costs no widget per heading.
class OutlineSidebar : public QWidget
{
    Q_OBJECT

public:
    // How a heading of a level is drawn; levels below 1 are drawn as 1.
    struct RowStyle
    {
        int leading = 0;  // pixels before the text
        QFont::Weight weight = QFont::Normal;
        bool primary = true; // the normal text colour, else the secondary one
    };
    static RowStyle rowStyle(int level);
    static constexpr int kRowTrailing = 10;
    static constexpr int kRowVerticalPadding = 6;
    // The column's width while open, and as a rail while collapsed.
    static constexpr int kMinimumWidth = 180;
    static constexpr int kMaximumWidth = 360;
    static constexpr int kRailWidth = 30;

    explicit OutlineSidebar(core::DocumentModel &model, QWidget *parent = nullptr);

    bool collapsed() const { return m_collapsed; }
    // The width the column had when it was last collapsed, to open it to again.
    int openWidth() const { return m_openWidth; }
    void setCollapsed(bool collapsed);

    QAbstractButton *headerButton() const { return m_header; }
    QListView *listView() const { return m_list; }
    // The note shown instead of the list when the document has no headings; empty otherwise.
    QString placeholderText() const;

Q_SIGNALS:
    void headingChosen(const quorvel::core::OutlineItem &item);
    void collapsedChanged(bool collapsed);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void applyPlaceholderColour();
    void setWidthRange();

    core::DocumentModel &m_model;
    QAbstractButton *m_header = nullptr;
    QListView *m_list = nullptr;
    QLabel *m_empty = nullptr;
    bool m_collapsed = false;
    int m_openWidth = 230;
};

} // namespace quorvel::app
