#include "notelinks.h"

#include "vaultindex.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace quorvel::vault {

using namespace Qt::StringLiterals;

std::optional<Fence> fenceOf(QStringView line)
{
    qsizetype i = 0;
    while (i < line.size() && i < 3 && line[i] == u' ')
        ++i;
    if (i >= line.size() || (line[i] != u'`' && line[i] != u'~'))
        return std::nullopt;
    const QChar mark = line[i];
    qsizetype run = 0;
    while (i + run < line.size() && line[i + run] == mark)
        ++run;
    if (run < 3)
        return std::nullopt;
    return Fence{mark, run};
}

namespace {

// "2024.03.05" has an extension too, as the index reads names: anything after the last dot.
bool hasExtension(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && dot + 1 < name.size();
}

bool hasScheme(QStringView target)
{
    // RFC 3986: a letter, then letters, digits, "+", "-" or ".", then ":".
    const auto isLetter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (target.isEmpty() || !isLetter(target[0]))
        return false;
    for (qsizetype i = 1; i < target.size(); ++i) {
        const QChar c = target[i];
        if (c == u':')
            return true;
        if (!isLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return false;
}


class Scanner
{
public:
    explicit Scanner(const QString &text) : m_text(text) { }

    QList<WrittenLink> scan()
    {
        std::optional<Fence> fence;
        qsizetype start = 0;
        while (start <= m_text.size()) {
            qsizetype end = start;
            while (end < m_text.size() && m_text[end] != u'\n' && m_text[end] != u'\r')
                ++end;
            const QStringView line = QStringView(m_text).mid(start, end - start);
            if (fence) {
                const auto closing = fenceOf(line);
                if (closing && closing->mark == fence->mark && closing->length >= fence->length
                    && line.trimmed().size() == line.trimmed().count(fence->mark))
                    fence.reset();
            } else if (const auto opening = fenceOf(line)) {
                fence = opening;
            } else {
                if (line.trimmed().isEmpty())
                    m_bracketOpen = false;
                else if (!definition(line, start))
                    inlines(line, start);
            }
            if (end >= m_text.size())
                break;
            start = end + (m_text[end] == u'\r' && end + 1 < m_text.size() && m_text[end + 1] == u'\n'
                               ? 2
                               : 1);
        }
        return m_links;
    }

private:
    // "[label]: destination"; a footnote ("[^1]: text") holds no link.
    bool definition(QStringView line, qsizetype offset)
    {
        static const QRegularExpression pattern(QStringLiteral("^ {0,3}\\[([^\\]^][^\\]]*)\\]:[ \\t]*"));
        const auto match = pattern.match(line.toString());
        if (!match.hasMatch())
            return false;
        destination(line, match.capturedEnd(), offset);
        return true;
    }

    void inlines(QStringView line, qsizetype offset)
    {
        qsizetype i = 0;
        while (i < line.size()) {
            const QChar c = line[i];
            if (c == u'\\') {
                i += 2;
            } else if (c == u'`') {
                qsizetype run = 0;
                while (i + run < line.size() && line[i + run] == u'`')
                    ++run;
                i = codeSpanEnd(line, i, run);
            } else if (c == u'[' && i + 1 < line.size() && line[i + 1] == u'[') {
                i = wikilink(line, i, offset);
            } else if (c == u'[') {
                m_bracketOpen = true;
                ++i;
            } else if (c == u']' && m_bracketOpen && i + 1 < line.size() && line[i + 1] == u'(') {
                i = destination(line, i + 2, offset);
            } else {
                ++i;
            }
        }
    }

    // Past a code span opened by `run` backticks at `at`, or past the backticks alone when
    // nothing closes them on the line.
    static qsizetype codeSpanEnd(QStringView line, qsizetype at, qsizetype run)
    {
        qsizetype i = at + run;
        while (i < line.size()) {
            if (line[i] != u'`') {
                ++i;
                continue;
            }
            qsizetype closing = 0;
            while (i + closing < line.size() && line[i + closing] == u'`')
                ++closing;
            if (closing == run)
                return i + closing;
            i += closing;
        }
        return at + run;
    }

    // The rules the page's own parser applies: no brackets or line breaks inside, the target
    // before any "|" and "#", trimmed.
    qsizetype wikilink(QStringView line, qsizetype at, qsizetype offset)
    {
        const qsizetype close = line.indexOf(u"]]", at + 2);
        if (close < 0)
            return at + 2;
        const QStringView inner = line.mid(at + 2, close - at - 2);
        if (inner.contains(u'[') || inner.contains(u']') || inner.trimmed().isEmpty())
            return at + 2;
        QStringView target = inner;
        if (const qsizetype bar = target.indexOf(u'|'); bar >= 0)
            target = target.left(bar);
        if (const qsizetype hash = target.indexOf(u'#'); hash >= 0)
            target = target.left(hash);
        qsizetype lead = 0;
        while (lead < target.size() && target[lead].isSpace())
            ++lead;
        const QStringView trimmed = target.trimmed();
        if (!trimmed.isEmpty())
            m_links.append({WrittenLink::Kind::Wikilink, offset + at + 2 + lead, trimmed.size(),
                            trimmed.toString(), false});
        return close + 2;
    }

    // A link destination starting at `at` (after "](" or a definition's colon); past it.
    qsizetype destination(QStringView line, qsizetype at, qsizetype offset)
    {
        m_bracketOpen = false;
        qsizetype i = at;
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
            ++i;
        qsizetype begin = i;
        qsizetype end = i;
        bool angled = false;
        if (i < line.size() && line[i] == u'<') {
            const qsizetype close = line.indexOf(u'>', i + 1);
            if (close < 0)
                return i + 1;
            begin = i + 1;
            end = close;
            angled = true;
        } else {
            int depth = 0;
            while (end < line.size() && !line[end].isSpace()) {
                if (line[end] == u'\\') {
                    end += 2;
                    continue;
                }
                if (line[end] == u'(')
                    ++depth;
                else if (line[end] == u')' && depth-- == 0)
                    break;
                ++end;
            }
            end = std::min(end, line.size());
        }
        QStringView target = line.mid(begin, end - begin);
        for (qsizetype k = 0; k < target.size(); ++k) {
            if (target[k] == u'#' || target[k] == u'?') {
                target = target.left(k);
                break;
            }
        }
        if (!target.isEmpty() && !hasScheme(target))
            m_links.append({WrittenLink::Kind::Markdown, offset + begin, target.size(),
                            target.toString(), angled});
        return angled ? end + 1 : end;
    }

    const QString &m_text;
    QList<WrittenLink> m_links;
    bool m_bracketOpen = false; // a "[" earlier in the paragraph, which a "](" may close
};

QString percentEncodedPath(const QString &path)
{
    static const QString special = QStringLiteral(" ()<>%#?\\[]\"");
    QString out;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || special.contains(c)) {
            for (const char byte : QString(c).toUtf8())
                out += u'%' + QString::number(uchar(byte), 16).toUpper().rightJustified(2, u'0');
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QList<WrittenLink> writtenLinks(const QString &text)
{
    return Scanner(text).scan();
}

std::optional<QString> linkedFile(const WrittenLink &link, const QString &notePath)
{
    if (link.kind == WrittenLink::Kind::Wikilink)
        return VaultIndex::index(notePath).resolve(link.target, notePath);
    const QString folder = QFileInfo(notePath).absolutePath();
    const QUrl resolved = QUrl::fromLocalFile(folder + u'/').resolved(QUrl(link.target, QUrl::TolerantMode));
    if (!resolved.isLocalFile())
        return std::nullopt;
    return VaultIndex::linkTarget(resolved, link.target, notePath);
}

std::optional<QString> retargeted(const WrittenLink &link, const QString &notePath,
                                  const QString &newPath, const QString &root, bool nameIsUnique)
{
    if (link.kind == WrittenLink::Kind::Markdown) {
        QString relative = QDir(QFileInfo(notePath).absolutePath()).relativeFilePath(newPath);
        if (link.target.startsWith(u"./") && !relative.startsWith(u"../"))
            relative.prepend(u"./");
        if (!link.angled)
            return percentEncodedPath(relative);
        if (relative.contains(u'<') || relative.contains(u'>'))
            return std::nullopt;
        return relative;
    }
    // A wikilink names a note of its own vault, never one outside it.
    QString fromRoot = QDir(root).relativeFilePath(newPath);
    if (fromRoot == u".." || fromRoot.startsWith(u"../") || QDir::isAbsolutePath(fromRoot))
        return std::nullopt;
    QString name = QFileInfo(newPath).fileName();
    const QString written = link.target.mid(link.target.lastIndexOf(u'/') + 1);
    // Written without ".md", it stays without, unless the name would then read as having
    // another extension and no longer find the note.
    if (!hasExtension(written) && name.endsWith(u".md", Qt::CaseInsensitive)
        && !hasExtension(QStringView(name).chopped(3))) {
        name.chop(3);
        fromRoot.chop(3);
    }
    const QString result = !link.target.contains(u'/') && nameIsUnique ? name : fromRoot;
    // Moved, not renamed: a bare name still finds it, written as the user wrote it.
    if (result.compare(link.target, Qt::CaseInsensitive) == 0)
        return link.target;
    for (const QChar c : result) {
        if (c == u'|' || c == u'#' || c == u'[' || c == u']' || c == u'\n' || c == u'\r')
            return std::nullopt;
    }
    return result;
}

namespace {

QString escapedLabel(const QString &label)
{
    static const QString special = QStringLiteral("\\[]*_`<>");
    QString out;
    for (const QChar c : label) {
        if (special.contains(c))
            out += u'\\';
        out += c;
    }
    return out;
}

bool namesImage(const QString &path)
{
    static const QStringList kinds{u"png"_s, u"jpg"_s, u"jpeg"_s, u"gif"_s, u"svg"_s, u"webp"_s,
                                   u"bmp"_s};
    return kinds.contains(QFileInfo(path).suffix().toLower());
}

} // namespace

QString wikilinksAsLinks(const QString &text, const QString &notePath)
{
    QString out;
    qsizetype at = 0;
    const QDir folder = QFileInfo(notePath).absoluteDir();
    for (const WrittenLink &link : writtenLinks(text)) {
        const qsizetype open = link.start - 2;
        if (link.kind != WrittenLink::Kind::Wikilink || open < at || QStringView(text).mid(open, 2) != u"[[")
            continue;
        const qsizetype close = text.indexOf(u"]]", link.start);
        if (close < 0)
            continue;
        const bool embed = open > at && text.at(open - 1) == u'!';
        const QString inner = text.mid(link.start, close - link.start);
        const qsizetype bar = inner.indexOf(u'|');
        const QString heading = (bar < 0 ? inner : inner.left(bar)).section(u'#', 1).trimmed();
        QString label = bar < 0 ? QString() : inner.mid(bar + 1).trimmed();
        if (label.isEmpty())
            label = heading.isEmpty() ? link.target : link.target + u" \u203A "_s + heading;
        const auto file = notePath.isEmpty() ? std::nullopt : linkedFile(link, notePath);
        out += QStringView(text).mid(at, (embed ? open - 1 : open) - at);
        if (file) {
            const QString destination = percentEncodedPath(folder.relativeFilePath(*file));
            out += (embed && namesImage(*file) ? u"!["_s : u"["_s) + escapedLabel(label) + u"]("_s
                + destination + u')';
        } else {
            out += escapedLabel(label);
        }
        at = close + 2;
    }
    out += QStringView(text).mid(at);
    return out;
}

} // namespace quorvel::vault
