#include "spelling.h"

#include "core/debuglog.h"
#include "themes/appearance.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWebEngineProfile>

namespace quorvel::app {

namespace {

constexpr int kFrontMatterLines = 200;

} // namespace

Spelling &Spelling::shared()
{
    // Parented to the application: the profiles it made go before the engine does.
    static Spelling *spelling = new Spelling(
        themes::Appearance::shared(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/Quorvel/words.txt"),
        editor::SpellChecker::standardFolders(), qApp);
    return *spelling;
}

Spelling::Spelling(themes::Appearance &appearance, QString wordsFile, QStringList folders,
                   QObject *parent)
    : QObject(parent)
    , m_appearance(appearance)
    , m_wordsFile(std::move(wordsFile))
    , m_folders(std::move(folders))
    , m_languages(editor::SpellChecker::installedLanguages(m_folders))
{
    connect(&m_appearance, &themes::Appearance::spellingLanguageChanged, this,
            &Spelling::followPreferences);
    connect(&m_appearance, &themes::Appearance::checkSpellingChanged, this,
            &Spelling::followPreferences);
    connect(&m_engine, &preview::EngineDictionaries::failed, this,
            [](const QString &language, const QString &reason) {
                qWarning("[spelling] %s: %s", qUtf8Printable(language), qUtf8Printable(reason));
            });
}

Spelling::~Spelling() = default;

QString Spelling::defaultLanguage() const
{
    for (const QString &wanted : {m_appearance.spellingLanguage(), QLocale::system().name(),
                                  QStringLiteral("en_US")}) {
        if (m_languages.contains(wanted))
            return wanted;
    }
    return m_languages.value(0);
}

QString Spelling::languageOf(QStringView text) const
{
    // Only a front matter at the very top counts, and only its first lines are looked at.
    static const QRegularExpression opening(QStringLiteral("\\A---[ \\t]*\\r?\\n"));
    static const QRegularExpression entry(
        QStringLiteral("^lang(?:uage)?[ \\t]*:[ \\t]*[\"']?([A-Za-z]{2,3}(?:[-_][A-Za-z0-9]{2,8})?)[\"']?[ \\t]*$"));
    if (!opening.match(text).hasMatch())
        return defaultLanguage();
    qsizetype start = text.indexOf(u'\n') + 1;
    for (int line = 0; line < kFrontMatterLines && start > 0 && start < text.size(); ++line) {
        const qsizetype end = text.indexOf(u'\n', start);
        QStringView row = text.mid(start, (end < 0 ? text.size() : end) - start);
        if (row.endsWith(u'\r'))
            row.chop(1);
        if (row == u"---" || row == u"...")
            break;
        if (const auto m = entry.match(row); m.hasMatch()) {
            const QString asked = m.captured(1).replace(u'-', u'_');
            if (m_languages.contains(asked))
                return asked;
            // "de" takes the first installed German; "de_AT" without its dictionary too.
            const QString prefix = asked.section(u'_', 0, 0) + u'_';
            for (const QString &language : m_languages) {
                if (language.startsWith(prefix, Qt::CaseInsensitive))
                    return language;
            }
            break;
        }
        start = end + 1;
    }
    return defaultLanguage();
}

QString Spelling::dicPath(const QString &language) const
{
    for (const QString &folder : m_folders) {
        const QString dic = QDir(folder).filePath(language + QStringLiteral(".dic"));
        if (QFileInfo(dic).isFile())
            return dic;
    }
    return {};
}

editor::SpellChecker *Spelling::checker(const QString &language)
{
    if (language.isEmpty())
        return nullptr;
    auto &slot = m_checkers[language];
    if (!slot) {
        slot = editor::SpellChecker::load(language, m_wordsFile, m_folders);
        if (!slot)
            return nullptr;
        for (const QString &word : std::as_const(m_ignored))
            slot->accept(word, false);
        slot->setLearnedHook([this, from = slot.get()](const QString &word, bool added) {
            learned(from, word, added);
        });
    }
    return slot.get();
}

QStringList Spelling::engineWords() const
{
    QStringList words = m_words;
    for (const QString &word : m_ignored) {
        if (!words.contains(word))
            words.append(word);
    }
    return words;
}

QWebEngineProfile *Spelling::profile(const QString &language)
{
    if (!m_wordsRead) {
        m_wordsRead = true;
        m_words = editor::SpellChecker::readWords(m_wordsFile);
        m_engine.setEnabled(m_appearance.checkSpelling());
    }
    QWebEngineProfile *profile = nullptr;
    if (language.isEmpty() || language == defaultLanguage()) {
        profile = QWebEngineProfile::defaultProfile();
        if (m_defaultProfileLanguage == language)
            return profile;
        m_defaultProfileLanguage = language;
    } else if (auto *own = m_profiles.value(language)) {
        return own;
    } else {
        // Off the record like the default one: nothing of a page is kept on disk.
        profile = new QWebEngineProfile(qApp);
        m_profiles.insert(language, profile);
    }
    if (!language.isEmpty())
        m_engine.use(profile, language, dicPath(language), engineWords());
    return profile;
}

void Spelling::ignore(const QString &word)
{
    if (auto *own = checker(defaultLanguage()))
        own->ignore(word);
    else
        learned(nullptr, word, false);
}

core::Result<void> Spelling::add(const QString &word)
{
    auto *own = checker(defaultLanguage());
    if (!own)
        return core::Result<void>::failure(tr("No dictionary is installed."));
    return own->addToDictionary(word);
}

void Spelling::learned(editor::SpellChecker *from, const QString &word, bool added)
{
    if (added) {
        if (!m_words.contains(word))
            m_words.append(word);
    } else {
        m_ignored.insert(word);
    }
    for (auto &[language, checker] : m_checkers) {
        if (checker.get() != from)
            checker->accept(word, added);
    }
    m_engine.setWords(engineWords());
    Q_EMIT wordsChanged();
}

void Spelling::followPreferences()
{
    m_engine.setEnabled(m_appearance.checkSpelling());
    // Pages in the default language follow a new choice; a note's own language stays.
    if (!m_defaultProfileLanguage.isEmpty())
        profile(defaultLanguage());
}

} // namespace quorvel::app
