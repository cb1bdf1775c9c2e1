#include "filecommands.h"

#include "core/linkupdates.h"
#include "documentcontroller.h"
#include "documentwindow.h"
#include "preview/previewcontroller.h"
#include "themes/appearance.h"
#include "core/documenttext.h"
#include "vault/notelinks.h"
#include "vault/vaultindex.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>

namespace quorvel::app::filecommands {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("quorvel::app::filecommands", text);
}

QString quoted(const QString &path)
{
    return QStringLiteral("\u201C%1\u201D").arg(QFileInfo(path).fileName());
}

void alert(QWidget *parent, const QString &message, const QString &informativeText = {})
{
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::Ok, parent);
    box.setInformativeText(informativeText);
    box.exec();
}

// An edit typed on the page a moment ago belongs to the text a command works on.
void flushPage(DocumentWindow &window)
{
    if (auto *controller = preview::PreviewController::of(window.model()))
        controller->flushEditsNow();
}

// The theme the file shows goes with it to its new name; a name the theme memory knows for
// another file must not hand that file's theme to this one. Recorded under the new file's
// identity, which a copy or a move to another disk changes.
void keepTheme(DocumentWindow &window, std::optional<themes::ThemeKind> theme)
{
    core::DocumentModel &model = window.model();
    if (theme && model.environment().appearance.themePerFile())
        model.chooseTheme(*theme);
}

bool occupied(const QString &path)
{
    struct stat info{};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

void saveAs(DocumentWindow &window)
{
    const QString current = window.filePath();
    const QString suggested = current.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/Untitled.md")
        : current;
    QString path = QFileDialog::getSaveFileName(&window, tr("Save As"), suggested,
                                                tr("Markdown (*.md *.markdown);;Text (*.txt)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".md");
    saveAs(window, path);
}

bool saveAs(DocumentWindow &window, const QString &path)
{
    flushPage(window);
    const QString target = QFileInfo(path).absoluteFilePath();
    // Two windows on one file would each save over the other.
    if (auto *other = DocumentController::shared().windowForPath(target); other && other != &window) {
        alert(&window, tr("%1 is open in another window.").arg(quoted(target)),
              tr("Close that window first, or choose another name."));
        return false;
    }
    if (QFileInfo(target).isDir()) {
        alert(&window, tr("%1 is a folder.").arg(quoted(target)), tr("Choose another name."));
        return false;
    }
    const auto theme = window.model().fileTheme();
    // A failed write is reported by the document itself, as any save.
    if (!window.document().saveAs(target))
        return false;
    keepTheme(window, theme);
    vault::VaultIndex::index(target).rebuild();
    return true;
}

void rename(DocumentWindow &window)
{
    if (window.filePath().isEmpty())
        return;
    const QFileInfo current(window.filePath());
    QInputDialog dialog(&window);
    dialog.setWindowTitle(tr("Rename"));
    dialog.setLabelText(tr("New name for %1:").arg(quoted(current.filePath())));
    dialog.setTextValue(current.fileName());
    dialog.setOkButtonText(tr("Rename"));
    // The name is what is changed most often, not its extension.
    if (auto *field = dialog.findChild<QLineEdit *>())
        QMetaObject::invokeMethod(field, [field, length = current.completeBaseName().size()] {
            field->setSelection(0, int(length));
        }, Qt::QueuedConnection);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString name = dialog.textValue().trimmed();
    if (name.isEmpty() || name == current.fileName())
        return;
    if (name.contains(u'/') || name == u"." || name == u"..") {
        alert(&window, tr("\u201C%1\u201D is not a file name.").arg(name),
              tr("A name cannot hold \u201C/\u201D; use Move To\u2026 to put the note in another "
                 "folder."));
        return;
    }
    if (QFileInfo(name).suffix().isEmpty() && !current.suffix().isEmpty())
        name += u'.' + current.suffix();
    relocate(window, current.dir().filePath(name));
}

void moveTo(DocumentWindow &window)
{
    if (window.filePath().isEmpty())
        return;
    const QFileInfo current(window.filePath());
    const QString folder =
        QFileDialog::getExistingDirectory(&window, tr("Move To"), current.absolutePath());
    if (folder.isEmpty())
        return;
    relocate(window, QDir(folder).filePath(current.fileName()));
}

namespace {

struct OwnLink
{
    vault::WrittenLink link;
    QString leadsTo;
};

// The note's Markdown links that lead somewhere by their path from its folder. Those found only
// by name in the vault still are after a move, and are left as they are.
QList<OwnLink> ownRelativeLinks(const QString &text, const QString &notePath)
{
    QList<OwnLink> links;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(notePath).absolutePath() + u'/');
    for (const vault::WrittenLink &link : vault::writtenLinks(text)) {
        if (link.kind != vault::WrittenLink::Kind::Markdown)
            continue;
        const QUrl resolved = folder.resolved(QUrl(link.target, QUrl::TolerantMode));
        if (!resolved.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(resolved.toLocalFile());
        if (QFileInfo::exists(path))
            links.append({link, path});
    }
    return links;
}

// A moved or renamed note's own links, an image beside it above all, still lead where they did:
// each target is written anew from the new place, in one step that Undo takes back.
void keepOwnLinks(DocumentWindow &window, const QList<OwnLink> &links, const QString &from,
                  const QString &to)
{
    const QString root = vault::VaultIndex::index(to).root();
    QList<core::TextEdit> edits;
    for (const OwnLink &own : links) {
        const QString leadsTo = own.leadsTo == QDir::cleanPath(from) ? to : own.leadsTo;
        const auto written = vault::retargeted(own.link, to, leadsTo, root, false);
        if (written && *written != own.link.target)
            edits.append({own.link.start, own.link.length, *written});
    }
    if (edits.isEmpty() || !window.model().text().applyAll(edits, core::EditOrigin::Program))
        return;
    window.model().saveNow();
}

} // namespace

bool relocate(DocumentWindow &window, const QString &path)
{
    const QString from = window.filePath();
    const QString to = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (from.isEmpty() || to == QDir::cleanPath(from))
        return false;
    core::DocumentFile &document = window.document();
    const auto refuse = [&window, &from](const QString &why) {
        alert(&window, tr("%1 was not moved.").arg(quoted(from)), why);
        return false;
    };
    if (document.fileMissing() || !document.fileReplacedBy().isEmpty())
        return refuse(tr("The file is no longer where it was on disk."));
    if (occupied(to))
        return refuse(tr("%1 is already in \u201C%2\u201D. Choose another name.")
                          .arg(quoted(to), QFileInfo(to).absolutePath()));
    if (!QFileInfo(QFileInfo(to).absolutePath()).isDir())
        return refuse(tr("There is no folder \u201C%1\u201D.").arg(QFileInfo(to).absolutePath()));
    // What moves is the file on disk: the text goes there first.
    flushPage(window);
    if (document.isDocumentEdited())
        window.model().saveNow();
    if (document.isDocumentEdited())
        return refuse(tr("Its latest changes could not be saved."));

    const auto open = [&window](const QString &note) -> core::DocumentFile * {
        auto *other = DocumentController::shared().windowForPath(note);
        return other && other != &window ? &other->document() : nullptr;
    };
    auto updates = core::LinkUpdates::plan(from, to, open);
    if (!updates)
        return refuse(updates.error());
    bool updateLinks = false;
    if (!updates.value().isEmpty()) {
        const QStringList notes = updates.value().notes();
        const QDir root(vault::VaultIndex::index(from).root());
        QStringList listed;
        for (const QString &note : notes)
            listed << QStringLiteral("\u2022 ") + root.relativeFilePath(note);
        QMessageBox box(QMessageBox::Question, tr("Quorvel"),
                        notes.size() == 1 ? tr("Update links in 1 note?")
                                          : tr("Update links in %1 notes?").arg(notes.size()),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, &window);
        box.setInformativeText(tr("These notes link to %1:\n%2\n\nOnly the links change; the rest of "
                                  "each note stays as it is.")
                                   .arg(quoted(from), listed.join(u'\n')));
        box.button(QMessageBox::Yes)->setText(tr("Update Links"));
        box.button(QMessageBox::No)->setText(tr("Don\u2019t Update"));
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel)
            return false;
        updateLinks = answer == QMessageBox::Yes;
    }

    const auto ownLinks = ownRelativeLinks(window.model().text().text(), from);
    const auto theme = window.model().fileTheme();
    if (const auto moved = document.moveTo(to); !moved)
        return refuse(moved.error());
    keepTheme(window, theme);
    keepOwnLinks(window, ownLinks, from, to);
    if (updateLinks) {
        const QStringList failures = updates.value().apply();
        if (!failures.isEmpty())
            alert(&window, tr("Some links to %1 were not updated.").arg(quoted(to)),
                  failures.join(u'\n'));
    }
    // Links resolve by name at once, not after the index's own rebuild delay.
    vault::VaultIndex::index(from).rebuild();
    vault::VaultIndex::index(to).rebuild();
    return true;
}

void revertToSaved(DocumentWindow &window)
{
    if (window.filePath().isEmpty())
        return;
    flushPage(window);
    core::DocumentFile &document = window.document();
    if (document.fileMissing() || !QFileInfo(window.filePath()).isFile()) {
        alert(&window, tr("%1 is no longer on disk.").arg(quoted(window.filePath())),
              tr("There is no saved version to go back to."));
        return;
    }
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"),
                    tr("Revert %1 to the version saved on disk?").arg(quoted(window.filePath())),
                    QMessageBox::Yes | QMessageBox::Cancel, &window);
    box.setInformativeText(tr("The changes made since it was last saved are lost."));
    box.button(QMessageBox::Yes)->setText(tr("Revert"));
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Yes)
        return;
    window.model().reloadFromDisk();
}

void fillRecentMenu(QMenu *menu, QWidget *parent)
{
    menu->clear();
    auto &controller = DocumentController::shared();
    const QStringList entries = controller.recentEntries();
    QHash<QString, int> names;
    for (const QString &path : entries)
        ++names[QFileInfo(path).fileName()];
    for (const QString &path : entries) {
        const QFileInfo info(path);
        // Two notes of one name are told apart by their folders.
        const QString label = names.value(info.fileName()) > 1
            ? QStringLiteral("%1 \u2014 %2").arg(info.fileName(), info.dir().dirName())
            : info.fileName();
        auto *action = menu->addAction(label, parent, [path, parent] {
            openRecent(path, parent);
        });
        action->setToolTip(path);
        action->setStatusTip(path);
        // Gone since it was opened: shown, so that the user knows what happened to it.
        action->setEnabled(info.isFile());
    }
    if (entries.isEmpty())
        menu->addAction(tr("No Recent Files"))->setEnabled(false);
    menu->setToolTipsVisible(true);
    menu->addSeparator();
    auto *clear = menu->addAction(tr("&Clear Menu"), parent, [] {
        DocumentController::shared().clearRecent();
    });
    clear->setEnabled(!entries.isEmpty());
}

void openRecent(const QString &path, QWidget *parent)
{
    auto &controller = DocumentController::shared();
    if (!QFileInfo(path).isFile()) {
        controller.forgetRecent(path);
        alert(parent, tr("%1 was moved or deleted.").arg(quoted(path)),
              tr("It is no longer at \u201C%1\u201D and was taken off the list of recent files.")
                  .arg(path));
        return;
    }
    controller.openDocument(path);
}

} // namespace quorvel::app::filecommands
