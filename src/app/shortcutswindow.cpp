#include "shortcutswindow.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quorvel::app {

namespace {

QString plain(QString label)
{
    // "&&" is a shown ampersand; a single "&" marks the mnemonic.
    label.replace(u"&&"_qs, u"\x01"_qs).remove(u'&').replace(u'\x01', u'&');
    return label;
}

QString keysOf(const QAction &action)
{
    QStringList keys;
    for (const QKeySequence &key : action.shortcuts())
        keys.append(key.toString(QKeySequence::NativeText));
    // The platform's bindings name some keys twice (Shift+Ins for Paste on X11).
    keys.removeDuplicates();
    return keys.join(u", "_qs);
}

QString key(QKeyCombination combination)
{
    return QKeySequence(combination).toString(QKeySequence::NativeText);
}

} // namespace

ShortcutsWindow::ShortcutsWindow(QMainWindow &window)
    : QDialog(&window)
{
    setWindowTitle(tr("Keyboard Shortcuts"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(520, 620);
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("Search commands and keys"));
    m_search->setClearButtonEnabled(true);
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({tr("Command"), tr("Keys")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);

    for (QAction *top : window.menuBar()->actions()) {
        if (top->menu())
            addMenu(addGroup(plain(top->text())), *top->menu(), QString());
    }
    for (QToolBar *toolbar : window.findChildren<QToolBar *>()) {
        QTreeWidgetItem *group = addGroup(toolbar->windowTitle());
        for (QAction *action : toolbar->actions()) {
            if (!action->shortcuts().isEmpty())
                addRow(group, plain(action->text().isEmpty() ? action->toolTip() : action->text()),
                       keysOf(*action));
        }
    }
    // What the views answer to by themselves, with no action to read it from.
    const QString shiftTab = key(Qt::SHIFT | Qt::Key_Tab);
    QTreeWidgetItem *page = addGroup(tr("In the Editing View"));
    addRow(page, tr("Indent a list item, or go to the next table cell"), key(Qt::Key_Tab));
    addRow(page, tr("Outdent a list item, or go to the previous table cell"), shiftTab);
    addRow(page, tr("Follow a link"), tr("Ctrl+Click"));
    QTreeWidgetItem *source = addGroup(tr("In the Source View"));
    addRow(source, tr("Undo and Redo, shared with the editing view"),
           QStringList{QKeySequence(QKeySequence::Undo).toString(QKeySequence::NativeText),
                       QKeySequence(QKeySequence::Redo).toString(QKeySequence::NativeText)}
               .join(u", "_qs));
    QTreeWidgetItem *find = addGroup(tr("In the Find Bar"));
    addRow(find, tr("Next match"), key(Qt::Key_Return));
    addRow(find, tr("Previous match"), key(Qt::SHIFT | Qt::Key_Return));
    addRow(find, tr("Replace, then go to the next match (in the replace field)"),
           key(Qt::Key_Return));
    addRow(find, tr("Replace All"), key(Qt::ALT | Qt::Key_A));
    addRow(find, tr("Close the find bar"), key(Qt::Key_Escape));
    QTreeWidgetItem *outline = addGroup(tr("In the Outline"));
    addRow(outline, tr("Go to the heading"),
           key(Qt::Key_Return) + u", "_qs + key(Qt::Key_Space));

    // A group without a shortcut says nothing.
    for (int i = m_list->topLevelItemCount() - 1; i >= 0; --i) {
        if (m_list->topLevelItem(i)->childCount() == 0)
            delete m_list->takeTopLevelItem(i);
    }
    m_list->expandAll();
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(false);
    connect(m_search, &QLineEdit::textChanged, this, &ShortcutsWindow::filter);
}

ShortcutsWindow *ShortcutsWindow::showFor(QMainWindow &window)
{
    // Read again each time: the menus' names follow the window's state (Show or Hide Outline).
    delete window.findChild<ShortcutsWindow *>();
    auto *list = new ShortcutsWindow(window);
    list->show();
    list->raise();
    list->activateWindow();
    list->m_search->setFocus();
    return list;
}

QTreeWidgetItem *ShortcutsWindow::addGroup(const QString &title)
{
    auto *group = new QTreeWidgetItem(m_list, {title});
    QFont bold = group->font(0);
    bold.setBold(true);
    group->setFont(0, bold);
    group->setFirstColumnSpanned(true);
    return group;
}

void ShortcutsWindow::addRow(QTreeWidgetItem *group, const QString &command, const QString &keys)
{
    new QTreeWidgetItem(group, {command, keys});
}

void ShortcutsWindow::addMenu(QTreeWidgetItem *group, const QMenu &menu, const QString &path)
{
    for (QAction *action : menu.actions()) {
        if (action->isSeparator())
            continue;
        const QString name = path + plain(action->text());
        if (action->menu())
            addMenu(group, *action->menu(), name + u" \u203A "_qs);
        else if (!action->shortcuts().isEmpty())
            addRow(group, name, keysOf(*action));
    }
}

void ShortcutsWindow::filter(const QString &text)
{
    const QString wanted = text.trimmed();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *group = m_list->topLevelItem(i);
        bool any = false;
        for (int j = 0; j < group->childCount(); ++j) {
            QTreeWidgetItem *row = group->child(j);
            const bool shown = row->text(0).contains(wanted, Qt::CaseInsensitive)
                || row->text(1).contains(wanted, Qt::CaseInsensitive);
            row->setHidden(!shown);
            any = any || shown;
        }
        group->setHidden(!any);
    }
}

QStringList ShortcutsWindow::shownRows() const
{
    QStringList rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *group = m_list->topLevelItem(i);
        for (int j = 0; j < group->childCount(); ++j) {
            const QTreeWidgetItem *row = group->child(j);
            if (!group->isHidden() && !row->isHidden())
                rows.append(row->text(0) + u'\t' + row->text(1));
        }
    }
    return rows;
}

} // namespace quorvel::app
