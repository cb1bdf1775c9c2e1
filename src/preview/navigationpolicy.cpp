#include "navigationpolicy.h"

#include <QFileInfo>

namespace quorvel::preview {

NavigationDecision decideNavigation(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid())
        return NavigationDecision::Cancel;
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).fileName() == u"index.html")
        return NavigationDecision::Allow;
    if (url.scheme() == u"about")
        return NavigationDecision::Allow;
    return NavigationDecision::OpenExternally;
}

} // namespace quorvel::preview
