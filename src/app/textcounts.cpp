#include "textcounts.h"

#include <QHash>
#include <QLocale>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace quorvel::app {

using namespace Qt::StringLiterals;

namespace {

constexpr int kWordsPerMinute = 200;
// A longer "&…;" is no character reference but text.
constexpr qsizetype kLongestEntity = 32;

char32_t codePointAt(QStringView text, qsizetype at)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[at + 1]);
    return c.unicode();
}

bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isAsciiPunctuation(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60)
        || (u >= 0x7B && u <= 0x7E);
}

// One source line: [start, end) without its line break, `next` where the following begins.
struct Line
{
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

Line lineAt(QStringView text, qsizetype start)
{
    qsizetype end = text.indexOf(u'\n', start);
    const qsizetype next = end < 0 ? text.size() : end + 1;
    if (end < 0)
        end = text.size();
    if (end > start && text[end - 1] == u'\r')
        --end;
    return {start, end, next};
}

QStringView trimmedRight(QStringView s)
{
    while (!s.isEmpty() && s.back().isSpace())
        s.chop(1);
    return s;
}

qsizetype skipBlanks(QStringView text, qsizetype at, qsizetype end)
{
    while (at < end && isBlank(text[at]))
        ++at;
    return at;
}

// "***", "- - -", "___": a rule, drawn as a line.
bool isThematicBreak(QStringView s)
{
    s = s.trimmed();
    if (s.size() < 3 || (s[0] != u'-' && s[0] != u'*' && s[0] != u'_'))
        return false;
    int marks = 0;
    for (QChar c : s) {
        if (c == s[0])
            ++marks;
        else if (!isBlank(c))
            return false;
    }
    return marks >= 3;
}

// "|---|:-:|": the row under a table's header.
bool isTableDelimiter(QStringView s)
{
    s = s.trimmed();
    bool pipe = false;
    bool dash = false;
    for (QChar c : s) {
        if (c == u'|')
            pipe = true;
        else if (c == u'-')
            dash = true;
        else if (c != u':' && !isBlank(c))
            return false;
    }
    return pipe && dash;
}

// The front matter: "---" on the first line, closed by "---" or "...", holding at least one
// "key:" or list line (two rules around a heading are no front matter). Where the text after
// it begins, or 0.
qsizetype frontMatterEnd(QStringView text)
{
    const Line first = lineAt(text, 0);
    if (trimmedRight(text.sliced(first.start, first.end - first.start)) != u"---")
        return 0;
    bool yaml = false;
    for (Line line = lineAt(text, first.next); line.start < text.size();
         line = lineAt(text, line.next)) {
        const QStringView s = text.sliced(line.start, line.end - line.start);
        const QStringView closing = trimmedRight(s);
        if (closing == u"---" || closing == u"...")
            return yaml ? line.next : 0;
        const QStringView item = s.trimmed();
        if (item.startsWith(u"- ") || item == u"-") {
            yaml = true;
        } else if (const qsizetype colon = item.indexOf(u':'); colon > 0) {
            yaml = yaml || colon + 1 == item.size() || isBlank(item[colon + 1]);
        }
    }
    return 0;
}

// Walks the Markdown line by line and hands what the page draws, character by character, to
// put(); only characters whose source offset lies in [from, to) are kept.
class Reader
{
public:
    Reader(QStringView text, qsizetype from, qsizetype to)
        : m_text(text)
        , m_from(std::max<qsizetype>(0, from))
        , m_to(to < 0 ? text.size() : std::min(to, text.size()))
    {
        m_out.reserve(std::max<qsizetype>(0, m_to - m_from));
    }

    QString read()
    {
        if (m_from >= m_to)
            return m_out;
        for (qsizetype at = frontMatterEnd(m_text); at < m_text.size() && at < m_to;) {
            const Line line = lineAt(m_text, at);
            readLine(line);
            endLine();
            at = line.next;
        }
        return m_out;
    }

private:
    void put(QChar c, qsizetype at)
    {
        if (at < m_from || at >= m_to)
            return;
        if (c.isSpace()) {
            // Whitespace shows only between characters of one line: in prose as one space,
            // in code as it was written.
            if (m_code)
                m_pendingCode.append(c);
            else
                m_pendingSpace = true;
            return;
        }
        if (m_code) {
            m_out.append(m_pendingCode);
        } else if (m_pendingSpace && m_lineHasText) {
            m_out.append(u' ');
        }
        m_pendingCode.clear();
        m_pendingSpace = false;
        m_out.append(c);
        m_lineHasText = true;
    }

    void endLine()
    {
        if (m_lineHasText)
            m_out.append(u'\n');
        m_lineHasText = false;
        m_pendingSpace = false;
        m_pendingCode.clear();
    }

    void readLine(const Line &line)
    {
        if (m_inComment) {
            readInline(line.start, line.end);
            return;
        }
        if (m_fence) {
            readFenced(line);
            return;
        }
        const QStringView whole = m_text.sliced(line.start, line.end - line.start);
        if (whole.trimmed().isEmpty()) {
            m_table = false;
            return;
        }
        // The containers: quote marks, then list markers with their task boxes.
        qsizetype at = line.start;
        qsizetype quoted = line.start; // where the innermost quote's text begins
        int quotes = 0;
        bool listed = false;
        for (;;) {
            at = skipBlanks(m_text, at, line.end);
            if (at < line.end && m_text[at] == u'>') {
                ++at;
                ++quotes;
                quoted = at < line.end && isBlank(m_text[at]) ? at + 1 : at;
                continue;
            }
            if (isThematicBreak(m_text.sliced(at, line.end - at)))
                return;
            if (const qsizetype marker = listMarker(at, line.end); marker > at) {
                at = marker;
                listed = true;
                continue;
            }
            break;
        }
        if (listed)
            at = taskBox(at, line.end);
        const QStringView rest = m_text.sliced(at, line.end - at);
        if (openFence(rest, at - quoted, quotes))
            return;
        const QStringView content = rest.trimmed();
        if (!content.isEmpty() && content.count(u'=') == content.size())
            return; // a heading's underline
        if (isTableDelimiter(rest)) {
            m_table = true;
            return;
        }
        if (!m_table && rest.contains(u'|')) {
            const Line next = lineAt(m_text, line.next);
            m_table = line.next < m_text.size()
                && isTableDelimiter(m_text.sliced(next.start, next.end - next.start));
        }
        if (rest.startsWith(u'[') && !rest.startsWith(u"[^") && isReferenceDefinition(rest))
            return;
        qsizetype end = line.end;
        if (rest.startsWith(u"[^")) {
            // A footnote's definition: its label is drawn as the note's number.
            if (const qsizetype close = rest.indexOf(u"]:"); close > 2)
                at += close + 2;
        } else {
            const qsizetype hashes = heading(rest);
            if (hashes > 0) {
                at += hashes;
                end = headingEnd(at, end);
            }
        }
        readInline(at, end);
    }

    // Where the text after a list marker ("-", "*", "+", "1.", "1)") begins; `at` when there is
    // none.
    qsizetype listMarker(qsizetype at, qsizetype end) const
    {
        if (at >= end)
            return at;
        qsizetype after = at;
        const QChar c = m_text[at];
        if (c == u'-' || c == u'*' || c == u'+') {
            after = at + 1;
        } else {
            while (after < end && after - at < 10 && m_text[after].isDigit()
                   && m_text[after].unicode() < 0x80)
                ++after;
            if (after == at || after - at > 9 || after >= end
                || (m_text[after] != u'.' && m_text[after] != u')'))
                return at;
            ++after;
        }
        return after == end || isBlank(m_text[after]) ? after : at;
    }

    qsizetype taskBox(qsizetype at, qsizetype end) const
    {
        if (end - at >= 3 && m_text[at] == u'[' && m_text[at + 2] == u']'
            && (m_text[at + 1] == u' ' || m_text[at + 1] == u'x' || m_text[at + 1] == u'X')
            && (at + 3 == end || isBlank(m_text[at + 3])))
            return at + 3;
        return at;
    }

    static qsizetype heading(QStringView s)
    {
        qsizetype n = 0;
        while (n < s.size() && s[n] == u'#')
            ++n;
        return n >= 1 && n <= 6 && (n == s.size() || isBlank(s[n])) ? n : 0;
    }

    // A heading's closing "#"s are markup too.
    qsizetype headingEnd(qsizetype start, qsizetype end) const
    {
        while (end > start && isBlank(m_text[end - 1]))
            --end;
        qsizetype hashes = end;
        while (hashes > start && m_text[hashes - 1] == u'#')
            --hashes;
        if (hashes < end && (hashes == start || isBlank(m_text[hashes - 1])))
            return hashes;
        return end;
    }

    static bool isReferenceDefinition(QStringView s)
    {
        const qsizetype close = s.indexOf(u"]:");
        return close > 1 && !s.first(close).contains(u']');
    }

    // A code fence, or display math's "$$", whose lines are read as written like code.
    bool openFence(QStringView s, qsizetype indent, int quotes)
    {
        const bool math = trimmedRight(s) == u"$$";
        if (!math && (s.size() < 3 || (s[0] != u'`' && s[0] != u'~')))
            return false;
        qsizetype run = 0;
        while (run < s.size() && s[run] == s[0])
            ++run;
        if (!math && (run < 3 || (s[0] == u'`' && s.sliced(run).contains(u'`'))))
            return false;
        m_fence = true;
        m_fenceChar = s[0];
        m_fenceLength = run;
        m_fenceIndent = indent;
        m_fenceQuotes = quotes;
        return true;
    }

    void readFenced(const Line &line)
    {
        // Inside a quote or a list item, the code starts where its fence did.
        qsizetype at = line.start;
        for (int q = 0; q < m_fenceQuotes; ++q) {
            const qsizetype mark = skipBlanks(m_text, at, line.end);
            if (mark >= line.end || m_text[mark] != u'>')
                break;
            at = mark + 1;
            if (at < line.end && isBlank(m_text[at]))
                ++at;
        }
        const qsizetype indentEnd = std::min(at + m_fenceIndent, line.end);
        while (at < indentEnd && isBlank(m_text[at]))
            ++at;
        const QStringView s = m_text.sliced(at, line.end - at).trimmed();
        if (s.size() >= m_fenceLength && s.count(m_fenceChar) == s.size()) {
            m_fence = false;
            return;
        }
        m_code = true;
        for (qsizetype i = at; i < line.end; ++i)
            put(m_text[i], i);
        m_code = false;
    }

    // The inline markup of [at, end), part of one line.
    void readInline(qsizetype at, qsizetype end)
    {
        while (at < end) {
            if (m_inComment) {
                const qsizetype close = m_text.sliced(0, end).indexOf(u"-->", at);
                if (close < 0)
                    return;
                m_inComment = false;
                at = close + 3;
                continue;
            }
            const QChar c = m_text[at];
            switch (c.unicode()) {
            case u'\\':
                at = escape(at, end);
                break;
            case u'`':
                at = codeSpan(at, end);
                break;
            case u'!':
                at = image(at, end);
                break;
            case u'[':
                at = bracket(at, end);
                break;
            case u'<':
                at = angle(at, end);
                break;
            case u'*':
            case u'_':
            case u'~':
            case u'=':
                at = delimiterRun(at, end);
                break;
            case u'&':
                at = entity(at, end);
                break;
            case u'|':
                put(m_table ? QChar(u' ') : c, at);
                ++at;
                break;
            default:
                put(c, at);
                ++at;
            }
        }
    }

    qsizetype escape(qsizetype at, qsizetype end)
    {
        if (at + 1 < end && isAsciiPunctuation(m_text[at + 1])) {
            put(m_text[at + 1], at + 1);
            return at + 2;
        }
        if (at + 1 < end)
            put(m_text[at], at);
        return at + 1; // at the end of a line it breaks the line
    }

    qsizetype codeSpan(qsizetype at, qsizetype end)
    {
        qsizetype run = 0;
        while (at + run < end && m_text[at + run] == u'`')
            ++run;
        for (qsizetype close = at + run; close < end;) {
            close = m_text.sliced(0, end).indexOf(u'`', close);
            if (close < 0)
                break;
            qsizetype closing = 0;
            while (close + closing < end && m_text[close + closing] == u'`')
                ++closing;
            if (closing == run) {
                for (qsizetype i = at + run; i < close; ++i)
                    put(m_text[i], i);
                return close + run;
            }
            close += closing;
        }
        for (qsizetype i = at; i < at + run; ++i)
            put(m_text[i], i);
        return at + run;
    }

    // The bracket closing the one at `at`, or -1.
    qsizetype matching(qsizetype at, qsizetype end, QChar open, QChar close) const
    {
        int depth = 0;
        for (qsizetype i = at; i < end; ++i) {
            const QChar c = m_text[i];
            if (c == u'\\') {
                ++i;
            } else if (c == open) {
                ++depth;
            } else if (c == close && --depth == 0) {
                return i;
            }
        }
        return -1;
    }

    // After a link's "[text]": where its "(address)" or "[reference]" ends, or -1.
    qsizetype linkTail(qsizetype closeBracket, qsizetype end) const
    {
        const qsizetype next = closeBracket + 1;
        if (next >= end)
            return -1;
        if (m_text[next] == u'(') {
            const qsizetype close = matching(next, end, u'(', u')');
            return close < 0 ? -1 : close + 1;
        }
        if (m_text[next] == u'[') {
            const qsizetype close = matching(next, end, u'[', u']');
            return close < 0 ? -1 : close + 1;
        }
        return -1;
    }

    qsizetype image(qsizetype at, qsizetype end)
    {
        if (at + 2 < end && m_text[at + 1] == u'[' && m_text[at + 2] == u'[') {
            // An embedded note or picture.
            const qsizetype close = m_text.sliced(0, end).indexOf(u"]]", at + 3);
            if (close > 0)
                return close + 2;
        } else if (at + 1 < end && m_text[at + 1] == u'[') {
            const qsizetype close = matching(at + 1, end, u'[', u']');
            if (close > 0) {
                if (const qsizetype tail = linkTail(close, end); tail > 0)
                    return tail;
            }
        }
        put(m_text[at], at);
        return at + 1;
    }

    qsizetype bracket(qsizetype at, qsizetype end)
    {
        if (at + 1 < end && m_text[at + 1] == u'[')
            if (const qsizetype past = wikilink(at, end); past > 0)
                return past;
        if (at + 1 < end && m_text[at + 1] == u'^') {
            // A footnote reference, drawn as its number.
            const qsizetype close = m_text.sliced(0, end).indexOf(u']', at + 2);
            if (close > at + 2 && !m_text.sliced(at + 2, close - at - 2).contains(u' '))
                return close + 1;
        }
        const qsizetype close = matching(at, end, u'[', u']');
        if (close > 0) {
            if (const qsizetype tail = linkTail(close, end); tail > 0) {
                readInline(at + 1, close);
                return tail;
            }
        }
        put(m_text[at], at);
        return at + 1;
    }

    // "[[Note]]", "[[Note#Heading]]", "[[Note|shown]]": the page shows the alias, else the note
    // and the heading.
    qsizetype wikilink(qsizetype at, qsizetype end)
    {
        const qsizetype close = m_text.sliced(0, end).indexOf(u"]]", at + 2);
        if (close < 0)
            return -1;
        const QStringView inner = m_text.sliced(at + 2, close - at - 2);
        if (inner.trimmed().isEmpty() || inner.contains(u'[') || inner.contains(u']'))
            return -1;
        const auto show = [this](qsizetype from, qsizetype to) {
            for (qsizetype i = from; i < to; ++i)
                put(m_text[i], i);
        };
        const qsizetype start = at + 2;
        if (const qsizetype bar = inner.indexOf(u'|'); bar >= 0) {
            show(start + bar + 1, close);
        } else if (const qsizetype hash = inner.indexOf(u'#'); hash >= 0) {
            show(start, start + hash);
            put(QChar(u' '), start + hash);
            show(start + hash + 1, close);
        } else {
            show(start, close);
        }
        return close + 2;
    }

    qsizetype angle(qsizetype at, qsizetype end)
    {
        const QStringView rest = m_text.sliced(at, end - at);
        if (rest.startsWith(u"<!--")) {
            m_inComment = true;
            return at + 4;
        }
        const qsizetype close = rest.indexOf(u'>');
        if (close > 1) {
            const QStringView inner = rest.sliced(1, close - 1);
            const QChar first = inner[0];
            const bool tag = (first.isLetter() && first.unicode() < 0x80)
                || ((first == u'/' || first == u'!' || first == u'?') && inner.size() > 1
                    && inner[1].isLetter());
            const qsizetype colon = inner.indexOf(u':');
            const bool autolink = !inner.contains(u' ')
                && ((colon > 1 && first.isLetter()) || inner.contains(u'@'));
            if (autolink) {
                // The address is the link's text.
                for (qsizetype i = at + 1; i < at + close; ++i)
                    put(m_text[i], i);
                return at + close + 1;
            }
            if (tag)
                return at + close + 1;
        }
        put(m_text[at], at);
        return at + 1;
    }

    // A run of "*", "_", "~" or "=": emphasis, strike-through or a highlight unless it stands
    // between spaces (or, for "_", inside a word); a lone "~" or "=" is text.
    qsizetype delimiterRun(qsizetype at, qsizetype end)
    {
        const QChar c = m_text[at];
        qsizetype run = 0;
        while (at + run < end && m_text[at + run] == c)
            ++run;
        const QChar before = at > 0 ? m_text[at - 1] : QChar(u' ');
        const QChar after = at + run < m_text.size() ? m_text[at + run] : QChar(u' ');
        bool markup = !(before.isSpace() && after.isSpace());
        if (c == u'_')
            markup = markup && !(before.isLetterOrNumber() && after.isLetterOrNumber());
        else if (c == u'~')
            markup = markup && run >= 2;
        else if (c == u'=')
            markup = markup && run == 2;
        if (!markup)
            for (qsizetype i = at; i < at + run; ++i)
                put(m_text[i], i);
        return at + run;
    }

    // "&amp;", "&#8212;", "&nbsp;": the character they stand for.
    qsizetype entity(qsizetype at, qsizetype end)
    {
        const qsizetype limit = std::min(end, at + kLongestEntity);
        const qsizetype semicolon = m_text.sliced(0, limit).indexOf(u';', at + 1);
        if (semicolon > at + 1) {
            const QStringView name = m_text.sliced(at + 1, semicolon - at - 1);
            char32_t value = 0;
            if (name.startsWith(u'#')) {
                const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
                bool valid = false;
                value = name.sliced(hex ? 2 : 1).toUInt(&valid, hex ? 16 : 10);
                if (!valid || value == 0 || value > QChar::LastValidCodePoint)
                    value = 0;
            } else {
                value = namedCharacter(name);
            }
            if (value != 0) {
                for (QChar c : QChar::fromUcs4(value))
                    put(c, at);
                return semicolon + 1;
            }
        }
        put(m_text[at], at);
        return at + 1;
    }

    // The names people type; any other is left as written, as the page leaves one it does not
    // know.
    static char32_t namedCharacter(QStringView name)
    {
        static const QHash<QString, char32_t> names{
            {u"amp"_s, U'&'},       {u"lt"_s, U'<'},        {u"gt"_s, U'>'},
            {u"quot"_s, U'"'},      {u"apos"_s, U'\''},     {u"nbsp"_s, U'\u00A0'},
            {u"ensp"_s, U'\u2002'}, {u"emsp"_s, U'\u2003'}, {u"thinsp"_s, U'\u2009'},
            {u"mdash"_s, U'\u2014'}, {u"ndash"_s, U'\u2013'}, {u"hellip"_s, U'\u2026'},
            {u"copy"_s, U'\u00A9'}, {u"reg"_s, U'\u00AE'},  {u"trade"_s, U'\u2122'},
            {u"laquo"_s, U'\u00AB'}, {u"raquo"_s, U'\u00BB'}, {u"lsquo"_s, U'\u2018'},
            {u"rsquo"_s, U'\u2019'}, {u"ldquo"_s, U'\u201C'}, {u"rdquo"_s, U'\u201D'},
            {u"times"_s, U'\u00D7'}, {u"deg"_s, U'\u00B0'},  {u"euro"_s, U'\u20AC'},
            {u"pound"_s, U'\u00A3'}, {u"middot"_s, U'\u00B7'}, {u"bull"_s, U'\u2022'},
            {u"rarr"_s, U'\u2192'}, {u"larr"_s, U'\u2190'},
        };
        return names.value(name.toString(), 0);
    }

    QStringView m_text;
    qsizetype m_from;
    qsizetype m_to;
    QString m_out;
    bool m_lineHasText = false;
    bool m_pendingSpace = false;
    QString m_pendingCode;
    bool m_code = false;
    bool m_inComment = false;
    bool m_table = false;
    bool m_fence = false;
    QChar m_fenceChar;
    qsizetype m_fenceLength = 0;
    qsizetype m_fenceIndent = 0;
    int m_fenceQuotes = 0;
};

} // namespace

TextCounts countText(QStringView text)
{
    TextCounts counts;
    bool inWord = false;
    // A character separates words when its first code point is whitespace (QChar::isSpace is
    // Unicode's White_Space, line breaks included).
    const auto cluster = [&](qsizetype start) {
        const char32_t first = codePointAt(text, start);
        const bool gap = QChar::isSpace(first);
        if (!isLineBreak(first))
            ++counts.characters;
        if (!gap && !inWord)
            ++counts.words;
        inWord = !gap;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
            cluster(i);
            i += 2;
            continue;
        }
        // Two ASCII characters are always two user-perceived ones: most text never needs the
        // boundary finder.
        if (c < 0x80 && (i + 1 == n || text[i + 1].unicode() < 0x80)) {
            cluster(i);
            ++i;
            continue;
        }
        // A run beyond ASCII, with the character before it (a mark may cling to it): a
        // character always ends before the ASCII one that follows.
        qsizetype end = i + 1;
        while (end < n && text[end].unicode() >= 0x80)
            ++end;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data() + i, end - i);
        qsizetype start = 0;
        for (qsizetype boundary = finder.toNextBoundary(); boundary != -1 && start < end - i;
             boundary = finder.toNextBoundary()) {
            cluster(i + start);
            start = boundary;
        }
        i = end;
    }
    return counts;
}

QString visibleText(QStringView markdown, qsizetype from, qsizetype to)
{
    return Reader(markdown, from, to).read();
}

TextCounts countMarkdown(QStringView markdown, qsizetype from, qsizetype to)
{
    return countText(visibleText(markdown, from, to));
}

int readingMinutes(int words)
{
    return (qMax(0, words) + kWordsPerMinute - 1) / kWordsPerMinute;
}

QString countedNumber(qint64 n)
{
    QString number = QLocale().toString(n);
    if (number.isEmpty())
        number = QString::number(n);
    return number;
}

QString countedPhrase(qint64 n, const QString &unit)
{
    return countedNumber(n) + u' ' + unit + (n == 1 ? QString() : QStringLiteral("s"));
}

} // namespace quorvel::app
