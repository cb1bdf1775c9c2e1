#pragma once

#include <QList>
#include <QString>

namespace quorvel::preview {

// The roles of a context-menu item: the web view's own (what it offered, classified) and the
// program's. The plan works on roles so that it can be checked without a web view.
enum class MenuRole {
    // offered by the web view
    Guess,         // a spelling suggestion
    LinkAction,    // open, open in a new window, download the link
    CopyLink,
    CopyImage,
    Copy,
    Inspect,
    Other,
    Separator,
    // made by the program
    EditLink,
    OpenLink,
    RemoveLink,
    EditCut,
    EditCopy,
    EditPaste,
    AddLink,
    SelectAll,
    NoGuesses,
    IgnoreSpelling,
    AddToDictionary,
};

struct MenuEntry
{
    MenuRole role = MenuRole::Other;
    QString title;
    // For an item the web view offered: its position in the offered list.
    int offered = -1;

    bool operator==(const MenuEntry &) const = default;
};

struct MenuContext
{
    bool editable = false;
    // From the page's "contextmenu" message: "web" on a link to a web address.
    QString linkKind;
    // The inspector stays only for diagnostics.
    bool debug = false;
    // The misspelt word under the pointer, if any.
    QString misspelt;
};

// The short menu for reading and editing Markdown, rebuilt from what the web view offered.
QList<MenuEntry> planContextMenu(const QList<MenuEntry> &offered, const MenuContext &context);

// No separator first, last, or after another.
QList<MenuEntry> tidySeparators(QList<MenuEntry> entries);

// The debug log's picture of a menu: titles joined by " · ", "|" for a separator.
QString describeMenu(const QList<MenuEntry> &entries);

} // namespace quorvel::preview
