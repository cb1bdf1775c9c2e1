#pragma once

#include "editor/spellchecker.h"
#include "preview/enginedictionaries.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <memory>

class QWebEngineProfile;

namespace quorvel::themes {
class Appearance;
}

namespace quorvel::app {

// Spelling for the whole program: one checker per language for the source editors, the web
// engine's dictionaries for the pages, and one list of the user's words that both follow.
class Spelling : public QObject
{
    Q_OBJECT

public:
    static Spelling &shared();

    Spelling(themes::Appearance &appearance, QString wordsFile,
             QStringList folders = editor::SpellChecker::standardFolders(),
             QObject *parent = nullptr);
    ~Spelling() override;

    QStringList languages() const { return m_languages; }
    // The language chosen in the preferences, else the system's, else American English.
    QString defaultLanguage() const;
    // A note's own language: its front matter's `lang:` when a dictionary of it is installed.
    QString languageOf(QStringView text) const;
    // Loaded when first asked for; null without a dictionary of that language.
    editor::SpellChecker *checker(const QString &language);
    // The profile whose pages check `language`: the default one for the default language, one
    // of its own for each other language a note asks for.
    QWebEngineProfile *profile(const QString &language);
    preview::EngineDictionaries &engine() { return m_engine; }
    // From a page's context menu: as the source editor's menu does it, for every view.
    void ignore(const QString &word);
    core::Result<void> add(const QString &word);

Q_SIGNALS:
    // A word was ignored or added: marks on screen are out of date.
    void wordsChanged();

private:
    void learned(editor::SpellChecker *from, const QString &word, bool added);
    void followPreferences();
    QStringList engineWords() const;
    QString dicPath(const QString &language) const;

    themes::Appearance &m_appearance;
    QString m_wordsFile;
    QStringList m_folders;
    QStringList m_languages;
    std::map<QString, std::unique_ptr<editor::SpellChecker>> m_checkers;
    QHash<QString, QWebEngineProfile *> m_profiles;
    QString m_defaultProfileLanguage;
    QStringList m_words;
    QSet<QString> m_ignored;
    bool m_wordsRead = false;
    preview::EngineDictionaries m_engine;
};

} // namespace quorvel::app
