#include "navigationpolicy.h"

namespace quorvel::preview {

NavigationDecision decideNavigation(const QUrl &url, const QUrl &page, bool isMainFrame,
                                    bool userClicked)
{
    if (url.isEmpty() || !url.isValid() || !isMainFrame)
        return NavigationDecision::Cancel;
    if (url.adjusted(QUrl::RemoveFragment) == page.adjusted(QUrl::RemoveFragment))
        return NavigationDecision::Allow;
    const QString scheme = url.scheme().toLower();
    const bool openable = url.isLocalFile() || scheme == u"http" || scheme == u"https"
        || scheme == u"mailto";
    return userClicked && openable ? NavigationDecision::OpenExternally
                                   : NavigationDecision::Cancel;
}

} // namespace quorvel::preview
