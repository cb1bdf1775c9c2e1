#pragma once

#include <QUrl>

namespace quorvel::preview {

enum class NavigationDecision {
    Allow,
    Cancel,
    // Cancel, and hand the address to the default application.
    OpenExternally,
};

// The page itself and "about:" pages stay in the view; anything that escapes the page (its own
// links arrive as "link" and "wikilink" messages) goes to the default application.
NavigationDecision decideNavigation(const QUrl &url);

} // namespace quorvel::preview
