#pragma once

#include <QString>
#include <QUrl>

namespace quorvel::preview {

// What following a link to a local file does. A link never starts a program: a document is
// untrusted, and the default application of a program is the program itself.
enum class FileLaunch {
    Open,   // with its default application
    Reveal, // in the file manager, selected
};

// Reveal for an executable file (by its permission bits or by its content, whatever its name),
// a desktop launcher and other files that desktops run when opened; Open for anything else,
// folders included. Symbolic links are judged by what they point to.
FileLaunch fileLaunch(const QString &path);

// Web and mail addresses go to the browser or mail program; a local file is opened or revealed
// as fileLaunch() says; anything else is not handed over.
void openExternally(const QUrl &url);

// Shows the file selected in the desktop's file manager, or opens its folder where no file
// manager answers the request.
void revealInFileManager(const QString &path);

} // namespace quorvel::preview
