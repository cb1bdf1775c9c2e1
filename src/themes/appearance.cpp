#include "appearance.h"

#include "settingsstore.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quorvel::themes {

namespace {

ThemeKind storedTheme(const SettingsStore &store)
{
    const QString raw = store.string(QStringLiteral("theme")).value_or(QString());
    if (const auto theme = themeFromStoredName(raw))
        return *theme;
    return renamedThemes().value(raw, ThemeKind::LightSans);
}

QVariant toStored(ThemeKind theme)
{
    return storedName(theme);
}
QVariant toStored(PaperSize size)
{
    return storedName(size);
}
template<typename T>
QVariant toStored(const T &value)
{
    return QVariant::fromValue(value);
}

} // namespace

Appearance::Appearance(SettingsStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_theme = storedTheme(store);
    m_themePerFile = store.boolean(QStringLiteral("themePerFile")).value_or(m_themePerFile);
    m_fontSize = store.number(QStringLiteral("fontSize")).value_or(m_fontSize);
    m_contentWidth = store.number(QStringLiteral("contentWidth")).value_or(m_contentWidth);
    m_lineHeight = store.number(QStringLiteral("lineHeight")).value_or(m_lineHeight);
    m_fontFamily = store.string(QStringLiteral("fontFamily")).value_or(QString());
    m_showStatusBar = store.boolean(QStringLiteral("showStatusBar")).value_or(m_showStatusBar);
    m_editorFontSize = store.number(QStringLiteral("editorFontSize")).value_or(m_editorFontSize);
    m_autoReload = store.boolean(QStringLiteral("autoReload")).value_or(m_autoReload);
    m_checkSpelling = store.boolean(QStringLiteral("checkSpelling")).value_or(m_checkSpelling);
    m_spellingLanguage = store.string(QStringLiteral("spellingLanguage")).value_or(QString());
    m_paperSize = paperSizeFromSetting(store.string(QStringLiteral("paperSize")).value_or(QString()));
    m_landscape = store.boolean(QStringLiteral("landscape")).value_or(m_landscape);
    m_marginMM = store.number(QStringLiteral("marginMM")).value_or(m_marginMM);
}

Appearance &Appearance::shared()
{
    static Appearance *instance = new Appearance(SettingsStore::standard());
    return *instance;
}

template<typename T, typename Signal>
void Appearance::assign(T &member, const T &value, const QString &key, Signal changed)
{
    m_store.setValue(key, toStored(value));
    if (member == value)
        return;
    member = value;
    Q_EMIT(this->*changed)(value);
}

void Appearance::setTheme(ThemeKind theme)
{
    const bool changed = theme != m_theme;
    assign(m_theme, theme, QStringLiteral("theme"), &Appearance::themeChanged);
    if (changed)
        applyWindowAppearances();
}

void Appearance::setThemePerFile(bool on)
{
    const bool changed = on != m_themePerFile;
    assign(m_themePerFile, on, QStringLiteral("themePerFile"), &Appearance::themePerFileChanged);
    if (changed)
        applyWindowAppearances();
}

void Appearance::setFontSize(double size)
{
    assign(m_fontSize, size, QStringLiteral("fontSize"), &Appearance::fontSizeChanged);
}

void Appearance::setContentWidth(double width)
{
    assign(m_contentWidth, width, QStringLiteral("contentWidth"), &Appearance::contentWidthChanged);
}

void Appearance::setLineHeight(double height)
{
    assign(m_lineHeight, height, QStringLiteral("lineHeight"), &Appearance::lineHeightChanged);
}

void Appearance::setFontFamily(const QString &family)
{
    assign(m_fontFamily, family, QStringLiteral("fontFamily"), &Appearance::fontFamilyChanged);
}

void Appearance::setShowStatusBar(bool show)
{
    assign(m_showStatusBar, show, QStringLiteral("showStatusBar"),
           &Appearance::showStatusBarChanged);
}

void Appearance::setEditorFontSize(double size)
{
    assign(m_editorFontSize, size, QStringLiteral("editorFontSize"),
           &Appearance::editorFontSizeChanged);
}

void Appearance::setAutoReload(bool on)
{
    assign(m_autoReload, on, QStringLiteral("autoReload"), &Appearance::autoReloadChanged);
}

void Appearance::setCheckSpelling(bool on)
{
    assign(m_checkSpelling, on, QStringLiteral("checkSpelling"), &Appearance::checkSpellingChanged);
}

void Appearance::setSpellingLanguage(const QString &language)
{
    assign(m_spellingLanguage, language, QStringLiteral("spellingLanguage"),
           &Appearance::spellingLanguageChanged);
}

void Appearance::setPaperSize(PaperSize size)
{
    assign(m_paperSize, size, QStringLiteral("paperSize"), &Appearance::paperSizeChanged);
}

void Appearance::setLandscape(bool on)
{
    assign(m_landscape, on, QStringLiteral("landscape"), &Appearance::landscapeChanged);
}

void Appearance::setMarginMM(double margin)
{
    assign(m_marginMM, margin, QStringLiteral("marginMM"), &Appearance::marginMMChanged);
}

QString Appearance::jsPayload(ThemeKind theme) const
{
    const QJsonObject payload{
        {QStringLiteral("fontFamily"), m_fontFamily},
        {QStringLiteral("fontSize"), m_fontSize},
        {QStringLiteral("lineHeight"), m_lineHeight},
        {QStringLiteral("theme"), storedName(theme)},
        {QStringLiteral("width"), m_contentWidth},
    };
    return QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

void Appearance::applyWindowAppearances()
{
    Q_EMIT windowAppearancesInvalidated();
}

} // namespace quorvel::themes
