#pragma once

#include "textedit.h"

#include <QList>
#include <QMetaType>
#include <QRegularExpression>
#include <QString>

#include <optional>

namespace quorvel::core {

// How a find reads its query. The same three options steer the page's find and the source's.
struct FindOptions
{
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
    friend bool operator==(const FindOptions &, const FindOptions &) = default;
};

struct TextMatch
{
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype end() const { return start + length; }
    friend bool operator==(const TextMatch &, const TextMatch &) = default;
};

// A query read with its options, searched in a document's text as it is in the file (offsets
// are the text's own, "\r\n" two characters). A pattern is a Perl-style regular expression in
// which ^ and $ match at every line, "\r\n" included; an empty match is never a match, since
// there is nothing to show or to replace.
class TextSearch
{
public:
    TextSearch(const QString &query, FindOptions options);

    bool isEmpty() const { return m_query.isEmpty(); }
    // What is wrong with the pattern, for the find bar to say; empty when nothing is.
    QString error() const { return m_error; }
    bool isValid() const { return m_error.isEmpty(); }

    // Every match, in order; none for an empty query or a bad pattern.
    QList<TextMatch> matches(const QString &text) const;
    // The edit that replaces `match` of `text`: exactly its span. With a pattern, "$1" to "$99"
    // in `replacement` stand for what the groups caught, "$0" for the whole match and "$$" for
    // a dollar sign. Nothing when `match` is no longer a match of `text`.
    std::optional<TextEdit> replace(const QString &text, const TextMatch &match,
                                    const QString &replacement) const;
    // One edit per match, in order, each exactly its span.
    QList<TextEdit> replaceAll(const QString &text, const QString &replacement) const;

private:
    bool isPlain() const;
    QString expand(const QRegularExpressionMatch &match, const QString &replacement) const;

    QString m_query;
    FindOptions m_options;
    QRegularExpression m_regex;
    QString m_error;
};

} // namespace quorvel::core

Q_DECLARE_METATYPE(quorvel::core::FindOptions)
