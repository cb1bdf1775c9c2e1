#pragma once

#include <QString>
#include <QVariant>

#include <functional>

namespace quorvel::preview {

class QuorvelWebView;

// Where the controller's scripts go. The real host is a web view with the page loaded in it;
// unit tests use a fake that records the scripts and answers their completions.
class PageHost
{
public:
    // Called with the script's result; an error arrives as an invalid QVariant.
    using Completion = std::function<void(const QVariant &result)>;

    virtual ~PageHost() = default;
    // A null completion means nobody waits for the result.
    virtual void runScript(const QString &script, Completion completion) = 0;
    // The widget showing the page; none for a host without one.
    virtual QuorvelWebView *webView() const { return nullptr; }
};

} // namespace quorvel::preview
