#pragma once

#include "textsearch.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace quorvel::core {

class DocumentModel;

// What the model asks of its window's rendered preview. The application installs the real
// controller through ControllerFactory; unit tests of the model install fakes.
class DocumentPreview
{
public:
    virtual ~DocumentPreview() = default;
    // Sends an edit still pending in the page, so that it reaches the text.
    virtual void flushEdits() = 0;
    // The text is about to be replaced from disk: an edit in progress must be dropped, not
    // written over the new text.
    virtual void prepareForReload() = 0;
    virtual void scrollToFraction(double fraction) = 0;
    // Find in the page and scrolling to headings. A preview that shows nothing finds nothing:
    // the defaults answer (0, 0) and do nothing else.
    using FindCompletion = std::function<void(int count, int index)>;
    virtual void find(const QString &query, FindOptions options, FindCompletion completion)
    {
        Q_UNUSED(query);
        Q_UNUSED(options);
        completion(0, 0);
    }
    virtual void findStep(int step, FindCompletion completion)
    {
        Q_UNUSED(step);
        completion(0, 0);
    }
    virtual void findClear() {}
    // Puts the keyboard focus in the page, so that the keys scroll it at once.
    virtual void takeFocus() {}
    virtual void scrollToHeading(const QString &id) { Q_UNUSED(id); }
    virtual void scrollToHeadingText(const QString &text, bool instant)
    {
        Q_UNUSED(text);
        Q_UNUSED(instant);
    }
};

// What the model asks of its window's source editor.
class DocumentEditor
{
public:
    virtual ~DocumentEditor() = default;
};

// What the model asks of the desktop. The application installs the real one; without it links
// lead nowhere.
struct DocumentWorkspace
{
    // Opens the note in its window, or raises the window it is open in.
    std::function<void(const QString &path)> openNote;
    // Hands a web address or a file that is no note to the default application; a program is
    // only ever shown in the file manager.
    std::function<void(const QUrl &url)> openExternally;
};

struct ControllerFactory
{
    std::function<std::unique_ptr<DocumentPreview>(DocumentModel &)> preview;
    std::function<std::unique_ptr<DocumentEditor>(DocumentModel &)> editor;
};

} // namespace quorvel::core
