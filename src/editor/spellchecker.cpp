#include "spellchecker.h"

#include "core/filereader.h"
#include "core/filewriter.h"

#include <hunspell.hxx>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

namespace quorvel::editor {

namespace {

// What is no prose in a line of Markdown: code spans, addresses and autolinks, link and image
// targets, wikilink targets, HTML tags and entities, inline math.
const QRegularExpression &notProse()
{
    static const QRegularExpression re(QStringLiteral(
        "(`+)[^`]*?\\1"                        // code span
        "|<[A-Za-z/!][^>]*>"                    // HTML tag, comment, autolink
        "|\\]\\([^)]*\\)"                      // link or image target
        "|\\]\\[[^\\]]*\\]"                     // reference
        "|\\[\\[[^\\]|#]*"                       // wikilink target
        "|\\b(?:https?|ftp|file|mailto):[^\\s)>]+" // address
        "|\\bwww\\.[^\\s)>]+"
        "|[\\w.+-]+@[\\w-]+\\.[\\w.-]+"           // mail address
        "|\\$[^$\\s][^$]*?\\$"                  // inline math
        "|&#?\\w+;"),                            // entity
        QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

const QRegularExpression &wordPattern()
{
    // Letters, with apostrophes inside (don't, it’s) and marks; a word with a digit is a name
    // or a number, not a spelling.
    static const QRegularExpression re(QStringLiteral("[\\p{L}\\p{M}]+(?:['\u2019][\\p{L}\\p{M}]+)*"),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

} // namespace

QStringList SpellChecker::standardFolders()
{
    return {QStringLiteral("/usr/share/hunspell"), QStringLiteral("/usr/share/myspell/dicts"),
            QStringLiteral("/usr/share/myspell")};
}

QStringList SpellChecker::readWords(const QString &wordsFile)
{
    QStringList words;
    // Read like any file a window opens: never a FIFO, never without a limit.
    if (const auto bytes = core::FileReader::read(wordsFile, 4 * 1024 * 1024)) {
        for (const QString &word : QString::fromUtf8(bytes.value()).split(u'\n')) {
            const QString trimmed = word.trimmed();
            if (!trimmed.isEmpty() && !words.contains(trimmed))
                words.append(trimmed);
        }
    }
    return words;
}

QStringList SpellChecker::installedLanguages(const QStringList &folders)
{
    QStringList languages;
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QString &aff : dir.entryList({QStringLiteral("*.aff")}, QDir::Files)) {
            const QString language = aff.chopped(4);
            if (dir.exists(language + QStringLiteral(".dic")) && !languages.contains(language))
                languages.append(language);
        }
    }
    languages.sort();
    return languages;
}

std::unique_ptr<SpellChecker> SpellChecker::load(const QString &language, const QString &wordsFile,
                                                 const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString base = QDir(folder).filePath(language);
        if (!QFileInfo(base + QStringLiteral(".aff")).isFile()
            || !QFileInfo(base + QStringLiteral(".dic")).isFile())
            continue;
        auto hunspell = std::make_unique<Hunspell>(
            QFile::encodeName(base + QStringLiteral(".aff")).constData(),
            QFile::encodeName(base + QStringLiteral(".dic")).constData());
        std::unique_ptr<SpellChecker> checker(
            new SpellChecker(std::move(hunspell), language, wordsFile));
        return checker;
    }
    return nullptr;
}

SpellChecker::SpellChecker(std::unique_ptr<Hunspell> hunspell, QString language, QString wordsFile)
    : m_hunspell(std::move(hunspell))
    , m_language(std::move(language))
    , m_wordsFile(std::move(wordsFile))
{
    const std::string encoding = m_hunspell->get_dict_encoding();
    m_utf8 = QString::fromStdString(encoding).compare(u"UTF-8", Qt::CaseInsensitive) == 0;
    m_words = readWords(m_wordsFile);
    for (const QString &word : std::as_const(m_words))
        m_hunspell->add(encoded(word).toStdString());
}

SpellChecker::~SpellChecker() = default;

QByteArray SpellChecker::encoded(QStringView word) const
{
    if (m_utf8)
        return word.toUtf8();
    auto encoder = QStringEncoder(QString::fromStdString(m_hunspell->get_dict_encoding()).toUtf8().constData());
    return encoder.isValid() ? QByteArray(encoder(word)) : word.toLatin1();
}

QString SpellChecker::decoded(const std::string &word) const
{
    if (m_utf8)
        return QString::fromStdString(word);
    auto decoder = QStringDecoder(QString::fromStdString(m_hunspell->get_dict_encoding()).toUtf8().constData());
    return decoder.isValid() ? QString(decoder(QByteArray::fromStdString(word)))
                             : QString::fromLatin1(word.data(), qsizetype(word.size()));
}

bool SpellChecker::isCorrect(QStringView word) const
{
    if (word.isEmpty() || m_ignored.contains(word.toString()))
        return true;
    QString plain = word.toString();
    plain.replace(QChar(0x2019), u'\''); // dictionaries spell it’s as it's
    return m_hunspell->spell(encoded(plain).toStdString());
}

QStringList SpellChecker::guesses(QStringView word, int most) const
{
    QStringList out;
    for (const std::string &guess : m_hunspell->suggest(encoded(word).toStdString())) {
        if (out.size() >= most)
            break;
        out.append(decoded(guess));
    }
    return out;
}

void SpellChecker::ignore(const QString &word)
{
    m_ignored.insert(word);
    if (m_learned)
        m_learned(word, false);
}

void SpellChecker::setLearnedHook(std::function<void(const QString &, bool)> hook)
{
    m_learned = std::move(hook);
}

void SpellChecker::accept(const QString &word, bool added)
{
    if (!added) {
        m_ignored.insert(word);
    } else if (!m_words.contains(word)) {
        m_words.append(word);
        m_hunspell->add(encoded(word).toStdString());
    }
}

core::Result<void> SpellChecker::addToDictionary(const QString &word)
{
    const QString trimmed = word.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(u'\n'))
        return core::Result<void>::failure(QCoreApplication::translate("quorvel::editor::SpellChecker", "Only a single word can be added."));
    if (m_words.contains(trimmed))
        return core::Result<void>::success();
    QStringList words = m_words;
    words.append(trimmed);
    QDir().mkpath(QFileInfo(m_wordsFile).absolutePath());
    if (const auto written = core::FileWriter::write(m_wordsFile, (words.join(u'\n') + u'\n').toUtf8());
        !written)
        return written;
    m_words = words;
    m_hunspell->add(encoded(trimmed).toStdString());
    if (m_learned)
        m_learned(trimmed, true);
    return core::Result<void>::success();
}

QList<std::pair<qsizetype, qsizetype>> SpellChecker::misspelt(QStringView line) const
{
    // Blank out what is no prose, keeping every offset.
    QString prose = line.toString();
    auto skipped = notProse().globalMatch(prose);
    while (skipped.hasNext()) {
        const auto m = skipped.next();
        for (qsizetype i = m.capturedStart(); i < m.capturedEnd(); ++i)
            prose[i] = u' ';
    }
    QList<std::pair<qsizetype, qsizetype>> out;
    auto words = wordPattern().globalMatch(prose);
    while (words.hasNext()) {
        const auto m = words.next();
        const qsizetype end = m.capturedEnd();
        // Glued to a digit or an underscore, it is a name, not a word.
        if ((m.capturedStart() > 0 && (prose[m.capturedStart() - 1].isDigit()
                                       || prose[m.capturedStart() - 1] == u'_'))
            || (end < prose.size() && (prose[end].isDigit() || prose[end] == u'_')))
            continue;
        if (!isCorrect(m.capturedView()))
            out.append({m.capturedStart(), m.capturedLength()});
    }
    return out;
}

} // namespace quorvel::editor
