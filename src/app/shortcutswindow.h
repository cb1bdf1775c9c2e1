#pragma once

#include <QDialog>

class QLineEdit;
class QMainWindow;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorvel::app {

// Help › Keyboard Shortcuts: every shortcut of a window's menus and toolbars, read from their
// actions when the window opens so that the list cannot drift from them, then the keys the views
// handle themselves. Typing in the search field keeps the rows whose command or keys contain the
// text.
class ShortcutsWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ShortcutsWindow(QMainWindow &window);

    // The one list of `window`, shown and raised, its search field focused.
    static ShortcutsWindow *showFor(QMainWindow &window);

    QLineEdit *searchField() const { return m_search; }
    // The rows shown now, each as "command<Tab>keys".
    QStringList shownRows() const;

private:
    void addMenu(QTreeWidgetItem *group, const QMenu &menu, const QString &path);
    QTreeWidgetItem *addGroup(const QString &title);
    void addRow(QTreeWidgetItem *group, const QString &command, const QString &keys);
    void filter(const QString &text);

    QLineEdit *m_search = nullptr;
    QTreeWidget *m_list = nullptr;
};

} // namespace quorvel::app
