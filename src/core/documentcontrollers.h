#pragma once

#include <QString>

#include <functional>
#include <memory>

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
    virtual void prepareForReload(const QString &text) = 0;
    virtual void scrollToFraction(double fraction) = 0;
};

// What the model asks of its window's source editor.
class DocumentEditor
{
public:
    virtual ~DocumentEditor() = default;
};

struct ControllerFactory
{
    std::function<std::unique_ptr<DocumentPreview>(DocumentModel &)> preview;
    std::function<std::unique_ptr<DocumentEditor>(DocumentModel &)> editor;
};

} // namespace quorvel::core
