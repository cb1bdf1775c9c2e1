// What the rendered page asks of its document: following links and wikilinks, ticking task
// items, storing pasted images.

#include "debuglog.h"
#include "documentviews.h"
#include "documentmodel.h"
#include "filereader.h"
#include "filewriter.h"
#include "vault/vaultindex.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace quorvel::core {

using namespace Qt::StringLiterals;

namespace {

const QSet<QString> &noteExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("md"),  QStringLiteral("markdown"), QStringLiteral("mdown"),
        QStringLiteral("mkd"), QStringLiteral("mkdn"),     QStringLiteral("txt")};
    return extensions;
}

// Headings to scroll to once the note at a path has rendered; the newest request wins.
QHash<QString, QString> &pendingHeadings()
{
    static QHash<QString, QString> headings;
    return headings;
}

QString standardized(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool isNote(const QString &path)
{
    const QFileInfo info(path);
    return !info.isDir() && noteExtensions().contains(info.suffix().toLower());
}

// A note opens in a window of its own; anything else goes to the desktop, which never runs a
// program for a link.
void openTarget(const QString &path, const QString &heading)
{
    if (isNote(path))
        DocumentModel::openNote(path, heading);
    else if (const auto &open = DocumentModel::workspace().openExternally)
        open(QUrl::fromLocalFile(path));
}

// Whether the cleaned absolute `path` lies under the folder `root`.
bool isUnder(const QString &path, const QString &root)
{
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return path.startsWith(prefix) && path.size() > prefix.size();
}

} // namespace

void DocumentModel::createNote(const QString &path)
{
    if (m_fileUrl.isEmpty())
        return;
    const QString target = standardized(path);
    const QString root = vault::VaultIndex::index(filePath()).root();
    const auto failed = [this, &target](const QString &why) {
        Q_EMIT alertRequested(tr("The note \u201C%1\u201D could not be made")
                                  .arg(QFileInfo(target).fileName()),
                              why);
    };
    if (!isUnder(target, root) || !isNote(target))
        return failed(tr("Notes are made inside the vault \u201C%1\u201D only.").arg(root));
    const QFileInfo info(target);
    if (info.exists() || info.isSymLink()) {
        // Made meanwhile (another window, another program): it is what the user wants to see.
        openNote(target);
        return;
    }
    // The nearest folder that exists must be the vault's own, not a link leading out of it,
    // before any folder is made inside it.
    QString existing = info.absolutePath();
    while (!QFileInfo(existing).isDir() && existing != root)
        existing = QFileInfo(existing).absolutePath();
    if (QFileInfo(existing).canonicalFilePath() != QFileInfo(root).canonicalFilePath()
        && !FileReader::isInside(existing, {root}))
        return failed(QStringLiteral("\u201C%1\u201D leads out of the vault.").arg(existing));
    if (!QDir().mkpath(info.absolutePath()))
        return failed(tr("The folder \u201C%1\u201D could not be made.")
                          .arg(info.absolutePath()));
    if (const auto written = FileWriter::write(target, QByteArray()); !written)
        return failed(written.error());
    vault::VaultIndex::index(target).rebuild();
    openNote(target);
}

void DocumentModel::openLink(const QString &href, const QString &written)
{
    const QUrl url(href, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    if (!url.isLocalFile()) {
        if (const auto &open = workspace().openExternally)
            open(url);
        return;
    }
    const auto target = vault::VaultIndex::linkTarget(url, written,
                                                      m_fileUrl.isEmpty() ? QString() : filePath());
    if (!target) {
        const QString message = QStringLiteral("\u201C") + QUrl::fromPercentEncoding(written.toUtf8())
            + QStringLiteral("\u201D doesn't exist at this location or anywhere else in the vault.");
        // A note can be made where the link looks for it: beside this one, as written.
        const QString missing = standardized(url.toLocalFile());
        if (m_fileUrl.isEmpty() || !isNote(missing)
            || !isUnder(missing, vault::VaultIndex::index(filePath()).root()))
            Q_EMIT alertRequested(tr("File not found"), message);
        else
            Q_EMIT noteCreationOffered(tr("File not found"), message, missing);
        return;
    }
    const QString heading = QUrl::fromPercentEncoding(url.fragment(QUrl::FullyEncoded).toUtf8());
    if (!m_fileUrl.isEmpty() && standardized(filePath()) == *target) {
        if (!heading.isEmpty())
            preview().scrollToHeadingText(heading, false);
        return;
    }
    openTarget(*target, heading);
}

void DocumentModel::openWikilink(const QString &target, const QString &heading)
{
    if (m_fileUrl.isEmpty())
        return;
    if (target.isEmpty()) {
        if (!heading.isEmpty())
            preview().scrollToHeadingText(heading, false);
        return;
    }
    auto &index = vault::VaultIndex::index(filePath());
    if (const auto found = index.resolve(target, filePath())) {
        openTarget(*found, heading);
        return;
    }
    const QString message = tr("No file named \u201C%1\u201D in \u201C%2\u201D or the "
                                           "folders inside it.")
                                .arg(target, QFileInfo(index.root()).fileName());
    // A bare name is made at the vault's root, a name with folders under the root, as the
    // index looks for it first; ".md" unless the name has an extension of its own.
    QString missing = QDir::cleanPath(index.root() + u'/' + target.trimmed());
    if (QFileInfo(missing).suffix().isEmpty())
        missing += QStringLiteral(".md");
    if (isNote(missing) && isUnder(missing, index.root()))
        Q_EMIT noteCreationOffered(tr("Note not found"), message, missing);
    else
        Q_EMIT alertRequested(tr("Note not found"), message);
}

void DocumentModel::openNote(const QString &file, const QString &heading)
{
    const QString path = standardized(file);
    previewLog(QStringLiteral("opening ") + path
               + (heading.isEmpty() ? QString() : QStringLiteral(" #") + heading));
    if (!heading.isEmpty()) {
        DocumentModel *open = nullptr;
        for (const auto &ref : liveRefs()) {
            if (ref && !ref->m_fileUrl.isEmpty() && standardized(ref->filePath()) == path) {
                open = ref.data();
                break;
            }
        }
        if (open) {
            previewLog(QStringLiteral("already open: scrolling to #") + heading);
            open->preview().scrollToHeadingText(heading, true);
        } else {
            pendingHeadings().insert(path, heading);
        }
    }
    if (const auto &openNote = workspace().openNote)
        openNote(path);
}

std::optional<QString> DocumentModel::consumePendingHeading()
{
    if (m_fileUrl.isEmpty())
        return std::nullopt;
    const auto found = pendingHeadings().find(standardized(filePath()));
    if (found == pendingHeadings().end())
        return std::nullopt;
    const QString heading = *found;
    pendingHeadings().erase(found);
    return heading;
}

void DocumentModel::toggleTask(int index, bool checked)
{
    static const QRegularExpression taskItem(QStringLiteral("^(\\s*(?:[-*+]|\\d+[.)])\\s+)\\[( |x|X)\\]"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    // Lines as the page counts them when it numbers its checkboxes: "\r\n", "\r" and "\n" each
    // end one, and a byte-order mark is no part of the first.
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    const QString &text = this->text().text();
    const qsizetype bom = text.startsWith(QChar(0xFEFF)) ? 1 : 0;
    int counter = 0;
    qsizetype start = bom;
    while (start <= text.size()) {
        const auto br = lineBreak.match(text, start);
        const qsizetype end = br.hasMatch() ? br.capturedStart() : text.size();
        const auto m = taskItem.match(QStringView(text).mid(start, end - start));
        if (m.hasMatch() && counter++ == index) {
            this->text().apply({start + m.capturedStart(2), 1, checked ? u"x"_s : u" "_s},
                               EditOrigin::Program);
            return;
        }
        if (!br.hasMatch())
            break;
        start = br.capturedEnd();
    }
}

std::optional<QString> DocumentModel::saveImage(const QImage &image)
{
    if (m_fileUrl.isEmpty()) {
        Q_EMIT alertRequested(tr("Save the document first"),
                              tr("Pasted images are stored in a Captures/ folder next "
                                             "to the markdown file."));
        return std::nullopt;
    }
    if (image.isNull())
        return std::nullopt;
    // The user pasted and sees nothing appear: without a reason they would paste again and again.
    const auto failed = [this](const QString &why) -> std::optional<QString> {
        Q_EMIT alertRequested(tr("The image could not be stored"), why);
        return std::nullopt;
    };
    QDir folder(QFileInfo(filePath()).absolutePath());
    const QString captures = folder.filePath(QStringLiteral("Captures"));
    if (::mkdir(QFile::encodeName(captures).constData(), 0777) != 0 && errno != EEXIST)
        return failed(tr("The folder \u201C%1\u201D could not be made: %2.")
                          .arg(captures, QString::fromLocal8Bit(std::strerror(errno))));
    if (!QFileInfo(captures).isDir())
        return failed(QStringLiteral("\u201C%1\u201D is in the way: it is not a folder.")
                          .arg(captures));
    const QString stamp = m_env.scheduler.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // A second image within the same second gets a counter; nothing is ever overwritten.
    QString name = QStringLiteral("capture-") + stamp + QStringLiteral(".png");
    for (int n = 2; folder.exists(QStringLiteral("Captures/") + name); ++n)
        name = QStringLiteral("capture-%1-%2.png").arg(stamp).arg(n);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return failed(tr("The image could not be made into a PNG file."));
    if (const auto written =
            FileWriter::write(folder.filePath(QStringLiteral("Captures/") + name), png);
        !written)
        return failed(written.error());
    return QStringLiteral("Captures/") + name;
}

} // namespace quorvel::core
