#pragma once

#include <QString>

class QMenu;
class QWidget;

namespace quorvel::app {

class DocumentWindow;

// The File menu's commands on the note's file itself: a copy under a new name, a new name or
// folder on disk (with the vault's links to it brought along when the user says so), going back
// to the saved version, and the files opened last. Each asks what it needs with a dialog and
// reports every failure in an alert; the forms taking a path ask nothing more than a question.
namespace filecommands {

// Save As…: asks for the path.
void saveAs(DocumentWindow &window);
// Writes the text to `path` in the note's own encoding and line breaks; the window goes on with
// that file, its theme with it. False when nothing was written.
bool saveAs(DocumentWindow &window, const QString &path);

// Rename…: asks for the new name.
void rename(DocumentWindow &window);
// Move To…: asks for the folder.
void moveTo(DocumentWindow &window);
// The saved file goes to `path`, which must be free. When other notes of its vault link to it,
// asks whether to update them, listing them; only a yes changes any of them. False when the
// file stayed where it was.
bool relocate(DocumentWindow &window, const QString &path);

// Revert to Saved: asks, then takes the file's text from disk.
void revertToSaved(DocumentWindow &window);

// Fills an Open Recent menu with the files opened last, newest first: those gone since greyed,
// then Clear Menu.
void fillRecentMenu(QMenu *menu, QWidget *parent);
// Opens a recent file; one gone since is dropped from the list with a word to the user.
void openRecent(const QString &path, QWidget *parent);

} // namespace filecommands

} // namespace quorvel::app
