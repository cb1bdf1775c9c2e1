#pragma once

#include <QObject>
#include <QHash>
#include <QString>
#include <QStringList>

class QWebEngineProfile;

namespace quorvel::preview {

// The web engine checks spelling with dictionaries of its own format. They are made from the
// system's Hunspell files and the user's own words, in the cache folder, when a language is
// first wanted and again whenever the words change; the engine then takes the new file.
class EngineDictionaries : public QObject
{
    Q_OBJECT

public:
    // Where the engine looks for its dictionaries. The engine reads this once, when it starts.
    static QString folder();
    static void prepareEnvironment();
    // The program that converts a Hunspell dictionary; empty when it is not installed.
    static QString converter();
    // "en_US" as the engine names it: "en-US".
    static QString engineName(const QString &language);

    explicit EngineDictionaries(QObject *parent = nullptr);

    // `profile` checks `language` (a Hunspell name) with `dic` and its .aff beside it, plus
    // `words`, from now on in place of what it checked before. The dictionary is made (off the event loop) when its file is missing or was made
    // from other words; until it is there, the profile checks nothing.
    void use(QWebEngineProfile *profile, const QString &language, const QString &dic,
             const QStringList &words);
    // The user's words changed: every dictionary is made again and taken by its profile.
    void setWords(const QStringList &words);
    void setEnabled(bool on);

Q_SIGNALS:
    // The profile of `language` now checks with the current words.
    void ready(const QString &language);
    void failed(const QString &language, const QString &reason);

private:
    struct Entry
    {
        QString language;
        QString dic;
        bool building = false;
        bool again = false;
    };
    void build(QWebEngineProfile *profile);
    void take(QWebEngineProfile *profile);
    QString stamp(const Entry &entry) const;

    QHash<QWebEngineProfile *, Entry> m_entries;
    QStringList m_words;
    bool m_enabled = true;
};

} // namespace quorvel::preview
