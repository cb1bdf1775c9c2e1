#include "linkupdates.h"

#include "documentfile.h"
#include "documenttext.h"
#include "filereader.h"
#include "filewriter.h"
#include "vault/notelinks.h"
#include "vault/vaultindex.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace quorvel::core {

namespace {

bool isNote(const QString &path)
{
    static const QSet<QString> extensions{
        QStringLiteral("md"),  QStringLiteral("markdown"), QStringLiteral("mdown"),
        QStringLiteral("mkd"), QStringLiteral("mkdn"),     QStringLiteral("txt")};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

QString cleaned(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString quoted(const QString &path)
{
    return QStringLiteral("\u201C%1\u201D").arg(QFileInfo(path).fileName());
}

} // namespace

Result<LinkUpdates> LinkUpdates::plan(const QString &fromPath, const QString &toPath,
                                      const OpenDocument &openDocument)
{
    using Planned = Result<LinkUpdates>;
    const QString from = cleaned(fromPath);
    const QString to = cleaned(toPath);
    const auto root = vault::VaultIndex::vaultRoot(from);
    if (!root || vault::VaultIndex::vaultRoot(to) != root)
        return LinkUpdates();
    auto &index = vault::VaultIndex::index(from);
    // Built afresh: a note written a moment ago links too.
    index.rebuild();
    const QStringList files = index.files();

    // A bare name finds the note only when no other file answers to it.
    QString name = QFileInfo(to).fileName().toLower();
    QSet<QString> names{name};
    if (name.endsWith(u".md"))
        names.insert(name.chopped(3));
    bool unique = true;
    for (const QString &file : files) {
        if (file != from && names.contains(QFileInfo(file).fileName().toLower()))
            unique = false;
    }

    LinkUpdates updates;
    for (const QString &path : files) {
        if (path == from || !isNote(path))
            continue;
        Note note{path, openDocument ? openDocument(path) : nullptr, {}, {}, {}, {}};
        TextEncoding encoding;
        QByteArray bytes;
        if (note.open) {
            note.before = note.open->text().text();
        } else {
            // A note that is a link to a file elsewhere is not the vault's to rewrite.
            if (!FileReader::isInside(path, {*root}))
                continue;
            note.seen = DiskFile::attributesOf(path);
            const Result<QByteArray> read = FileReader::read(path, FileReader::kDocumentLimit);
            if (!read)
                continue;
            bytes = read.value();
            const auto decoded = TextEncoding::decode(bytes);
            if (!decoded)
                continue;
            note.before = decoded->text;
            encoding = decoded->encoding;
        }
        for (const vault::WrittenLink &link : vault::writtenLinks(note.before)) {
            if (vault::linkedFile(link, path) != from)
                continue;
            const auto target = vault::retargeted(link, path, to, *root, unique);
            if (!target)
                return Planned::failure(
                    QCoreApplication::translate("quorvel::core::LinkUpdates", "The link \u201C%1\u201D in %2 cannot be made to lead to %3.")
                        .arg(link.target, quoted(path), quoted(to)));
            // A bare name still unique after a move to another folder stays as it is.
            if (*target != QStringView(note.before).mid(link.start, link.length))
                note.edits.prepend({link.start, link.length, *target});
        }
        if (note.edits.isEmpty())
            continue;
        if (!note.open) {
            if (encoding.encode(note.before) != bytes)
                return Planned::failure(
                    QStringLiteral("%1 cannot be rewritten without changing more than its links.")
                        .arg(quoted(path)));
            QString after = note.before;
            for (const TextEdit &edit : std::as_const(note.edits))
                after.replace(edit.start, edit.removed, edit.inserted);
            const auto encoded = encoding.encode(after);
            if (!encoded)
                return Planned::failure(
                    QStringLiteral("%1 is saved as %2, which cannot hold the new name.")
                        .arg(quoted(path), encoding.name()));
            note.after = *encoded;
        }
        updates.m_notes.append(note);
    }
    return updates;
}

QStringList LinkUpdates::notes() const
{
    QStringList paths;
    for (const Note &note : m_notes)
        paths << note.path;
    return paths;
}

QStringList LinkUpdates::apply()
{
    QStringList failures;
    const auto unchanged = [](const QString &path) {
        return QStringLiteral("%1 changed meanwhile; its links were left as they were.")
            .arg(quoted(path));
    };
    for (const Note &note : std::as_const(m_notes)) {
        if (note.open) {
            DocumentText &text = note.open->text();
            if (text.text() != note.before) {
                failures << unchanged(note.path);
                continue;
            }
            for (const TextEdit &edit : note.edits)
                text.apply(edit, EditOrigin::Program);
            note.open->saveNow();
            if (note.open->isDocumentEdited())
                failures << QStringLiteral("%1 was updated in its window but not saved.")
                                .arg(quoted(note.path));
            continue;
        }
        const Result<bool> written = FileWriter::writeOver(note.path, note.after, note.seen);
        if (!written)
            failures << written.error();
        else if (!written.value())
            failures << unchanged(note.path);
    }
    return failures;
}

} // namespace quorvel::core
