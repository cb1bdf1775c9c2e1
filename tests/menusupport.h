#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QString>

// The window's menus as a user finds them: by their titles, without the mnemonic marks.
inline QMenu *topMenu(const QMainWindow *window, const QString &title)
{
    for (QAction *top : window->menuBar()->actions()) {
        if (top->menu() && top->text().remove(u'&') == title)
            return top->menu();
    }
    return nullptr;
}

inline QAction *menuItem(const QMainWindow *window, const QString &menu, const QString &label)
{
    if (QMenu *top = topMenu(window, menu)) {
        for (QAction *action : top->actions()) {
            if (action->text().remove(u'&') == label)
                return action;
        }
    }
    return nullptr;
}
