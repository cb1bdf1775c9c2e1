#include "contextmenu.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace quorvel::preview {

namespace {

const QString kEllipsis = QStringLiteral("\u2026");
constexpr qsizetype kMostGuesses = 5;

MenuEntry made(MenuRole role, const QString &title)
{
    return {role, title, -1};
}

MenuEntry separator()
{
    return {MenuRole::Separator, QString(), -1};
}

std::optional<MenuEntry> firstOf(const QList<MenuEntry> &offered, MenuRole role)
{
    const auto it = std::find_if(offered.begin(), offered.end(),
                                 [role](const MenuEntry &e) { return e.role == role; });
    if (it == offered.end())
        return std::nullopt;
    return *it;
}

} // namespace

QList<MenuEntry> planContextMenu(const QList<MenuEntry> &offered, const MenuContext &context)
{
    const bool onLink = std::any_of(offered.begin(), offered.end(), [](const MenuEntry &e) {
        return e.role == MenuRole::LinkAction || e.role == MenuRole::CopyLink;
    });
    const auto copyLink = context.linkKind == u"web" ? firstOf(offered, MenuRole::CopyLink)
                                                     : std::nullopt;
    const auto copyImage = firstOf(offered, MenuRole::CopyImage);
    const auto copy = firstOf(offered, MenuRole::Copy);
    const auto inspect = context.debug ? firstOf(offered, MenuRole::Inspect) : std::nullopt;

    QList<MenuEntry> menu;
    if (!context.misspelt.isEmpty() && context.editable) {
        // The best guess first, so that Down, Return takes it; as many as the source editor's.
        for (const MenuEntry &entry : offered) {
            if (entry.role == MenuRole::Guess && menu.size() < kMostGuesses)
                menu.append(entry);
        }
        if (menu.isEmpty())
            menu.append(made(MenuRole::NoGuesses, QCoreApplication::translate("quorvel::preview::ContextMenu", "No Guesses Found")));
        menu << separator() << made(MenuRole::IgnoreSpelling, QCoreApplication::translate("quorvel::preview::ContextMenu", "Ignore Spelling"))
             << made(MenuRole::AddToDictionary, QCoreApplication::translate("quorvel::preview::ContextMenu", "Add to Dictionary")) << separator();
    }
    if (onLink) {
        if (context.editable)
            menu.append(made(MenuRole::EditLink, QCoreApplication::translate("quorvel::preview::ContextMenu", "Edit Link") + kEllipsis));
        menu.append(made(MenuRole::OpenLink, QCoreApplication::translate("quorvel::preview::ContextMenu", "Open Link")));
        if (copyLink)
            menu.append(*copyLink);
        if (context.editable)
            menu.append(made(MenuRole::RemoveLink, QCoreApplication::translate("quorvel::preview::ContextMenu", "Remove Link")));
        menu.append(separator());
    }
    if (copyImage)
        menu << *copyImage << separator();
    if (context.editable) {
        menu << made(MenuRole::EditCut, QCoreApplication::translate("quorvel::preview::ContextMenu", "Cut"))
             << made(MenuRole::EditCopy, QCoreApplication::translate("quorvel::preview::ContextMenu", "Copy"))
             << made(MenuRole::EditPaste, QCoreApplication::translate("quorvel::preview::ContextMenu", "Paste"));
        if (!onLink)
            menu << separator() << made(MenuRole::AddLink, QCoreApplication::translate("quorvel::preview::ContextMenu", "Add Link") + kEllipsis);
    } else {
        // Reading: whatever was clicked, the text can be copied, and all of it taken first.
        menu << (copy ? *copy : made(MenuRole::EditCopy, QCoreApplication::translate("quorvel::preview::ContextMenu", "Copy")))
             << made(MenuRole::SelectAll, QCoreApplication::translate("quorvel::preview::ContextMenu", "Select All"));
    }
    if (inspect)
        menu << separator() << *inspect;
    return tidySeparators(menu);
}

QList<MenuEntry> tidySeparators(QList<MenuEntry> entries)
{
    QList<MenuEntry> tidy;
    for (const MenuEntry &entry : entries) {
        const bool redundant = entry.role == MenuRole::Separator
            && (tidy.isEmpty() || tidy.last().role == MenuRole::Separator);
        if (!redundant)
            tidy.append(entry);
    }
    if (!tidy.isEmpty() && tidy.last().role == MenuRole::Separator)
        tidy.removeLast();
    return tidy;
}

QString describeMenu(const QList<MenuEntry> &entries)
{
    QStringList titles;
    for (const MenuEntry &entry : entries)
        titles.append(entry.role == MenuRole::Separator ? QStringLiteral("|") : entry.title);
    return titles.join(QStringLiteral(" \u00B7 "));
}

} // namespace quorvel::preview
