#pragma once

#include <QList>
#include <QString>
#include <QToolBar>

#include <utility>

class QAction;

namespace quorvel::app {

class DocumentWindow;

// The bar across the top of a document window: the view switcher, open, save and export, find,
// the formatting buttons and the theme and settings menu. It adds itself to the window it is
// made for.
class DocumentToolbar : public QToolBar
{
    Q_OBJECT

public:
    explicit DocumentToolbar(DocumentWindow &window);

    // Icons in the window palette's colour; again after every palette change.
    void repaintIcons();
    // Labels beside Open, Save and Export by the window's width.
    void refresh();

private:
    QAction *addIcon(QAction *action, const QString &icon);

    // The window, not the bar, is asked for colours and width: a palette change reaches the
    // window before its children.
    DocumentWindow &m_window;
    QList<std::pair<QAction *, QString>> m_icons;
    QList<QAction *> m_labelled;
};

} // namespace quorvel::app
