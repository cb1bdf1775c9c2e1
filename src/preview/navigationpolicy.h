#pragma once

#include <QUrl>

namespace quorvel::preview {

enum class NavigationDecision {
    Allow,
    Cancel,
    // Cancel, and hand the address to the default application (see externallinks.h).
    OpenExternally,
};

// The preview shows our page and nothing else: a document that got the view to load another
// page would run that page's scripts next to the bridge. So only `page` itself (at any heading)
// loads, in the main frame. The page turns its own links into messages; a click that still
// escapes it is a link the user meant, and goes to the default application. Everything else
// (scripts, redirects, frames, other schemes) is refused.
NavigationDecision decideNavigation(const QUrl &url, const QUrl &page, bool isMainFrame,
                                    bool userClicked);

} // namespace quorvel::preview
