#pragma once

#include "core/result.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

class Hunspell;

namespace quorvel::editor {

// Spelling on the system's Hunspell dictionaries, with the user's own words kept in a plain text
// file, one word a line, shared by every window. Words the user said to ignore are ignored until
// the program ends.
class SpellChecker
{
public:
    // Where Debian's dictionary packages put their files.
    static QStringList standardFolders();
    // The user's list as it is on disk: one word a line, blank lines and repeats left out.
    static QStringList readWords(const QString &wordsFile);
    // The languages with a dictionary in `folders` ("en_US", "de_DE", …), sorted.
    static QStringList installedLanguages(const QStringList &folders = standardFolders());
    // The dictionary of `language` from `folders` and the user's words from `wordsFile`
    // (created on the first word added); nothing when no dictionary of that language is there.
    static std::unique_ptr<SpellChecker> load(const QString &language, const QString &wordsFile,
                                              const QStringList &folders = standardFolders());
    ~SpellChecker();

    QString language() const { return m_language; }
    bool isCorrect(QStringView word) const;
    // The likeliest spellings first, at most `most`.
    QStringList guesses(QStringView word, int most = 5) const;
    void ignore(const QString &word);
    // The word joins the user's list on disk (written through a temporary file, so that a crash
    // never leaves half a list) and is no longer marked; the reason when the list cannot be
    // written.
    core::Result<void> addToDictionary(const QString &word);
    // What the user's list holds now.
    QStringList words() const { return m_words; }
    QStringList ignored() const { return m_ignored.values(); }
    // Told after a word was ignored or added here (`added`), so that other checkers and the
    // page learn it too.
    void setLearnedHook(std::function<void(const QString &word, bool added)> hook);
    // A word ignored or added elsewhere, taken without writing the list again.
    void accept(const QString &word, bool added);

    // The misspelt words of one line of Markdown source, as [start, length) in the line. Code,
    // addresses, link and wikilink targets, HTML tags and math are no prose and are never checked.
    QList<std::pair<qsizetype, qsizetype>> misspelt(QStringView line) const;

private:
    SpellChecker(std::unique_ptr<Hunspell> hunspell, QString language, QString wordsFile);
    QByteArray encoded(QStringView word) const;
    QString decoded(const std::string &word) const;

    std::unique_ptr<Hunspell> m_hunspell;
    QString m_language;
    QString m_wordsFile;
    bool m_utf8 = true;
    QSet<QString> m_ignored;
    QStringList m_words;
    std::function<void(const QString &, bool)> m_learned;
};

} // namespace quorvel::editor
