#pragma once

class QAction;
class QActionGroup;
class QMenu;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

class DocumentWindow;

// The menu bar of a document window: File, Edit, Format, View and Help. Its actions belong to
// the window and act on the window's model.
class DocumentMenus
{
public:
    explicit DocumentMenus(DocumentWindow &window);

    QMenu *editMenu() const { return m_edit; }
    QMenu *helpMenu() const { return m_help; }
    QAction *findAndReplaceAction() const { return m_findAndReplace; }

private:
    void addFileMenu();
    void addEditMenu();
    // Undo, Redo and the clipboard, in the focused view.
    void addEditingItems(QMenu *edit);
    // Find, Find and Replace, Find Next and Find Previous, in the focused view.
    void addFindItems(QMenu *edit);
    // Markdown formatting: on the page in the editing view, in the source everywhere else.
    void addFormatMenu();
    void addViewMenu();
    void addHelpMenu();

    DocumentWindow &m_window;
    core::DocumentModel &m_model;
    QMenu *m_edit = nullptr;
    QMenu *m_help = nullptr;
    QAction *m_findAndReplace = nullptr;
};

// Shared by the View menu and the toolbar, so that both always agree with the model.
// Checks the action of the model's mode among `modes`, now and at every change.
void followMode(QActionGroup *modes, core::DocumentModel &model);
// The themes, one checkable action each, choosing the theme for `window`.
void addThemePicker(QMenu *menu, DocumentWindow &window);

} // namespace quorvel::app
