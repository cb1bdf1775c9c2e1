#pragma once

#include "papersize.h"
#include "themekind.h"

#include <QObject>
#include <QString>

namespace quorvel::themes {

class SettingsStore;

// The application-wide user settings. Each is read once when the object is made and written
// back to the store on every assignment; the values in memory are the truth afterwards.
// No value is clamped here: the commands that step the typography bound it themselves.
class Appearance : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(double contentWidth READ contentWidth WRITE setContentWidth NOTIFY contentWidthChanged)
    Q_PROPERTY(double lineHeight READ lineHeight WRITE setLineHeight NOTIFY lineHeightChanged)
    Q_PROPERTY(QString fontFamily READ fontFamily WRITE setFontFamily NOTIFY fontFamilyChanged)
    Q_PROPERTY(bool themePerFile READ themePerFile WRITE setThemePerFile NOTIFY themePerFileChanged)
    Q_PROPERTY(bool showStatusBar READ showStatusBar WRITE setShowStatusBar NOTIFY showStatusBarChanged)
    Q_PROPERTY(double editorFontSize READ editorFontSize WRITE setEditorFontSize NOTIFY editorFontSizeChanged)
    Q_PROPERTY(bool autoReload READ autoReload WRITE setAutoReload NOTIFY autoReloadChanged)
    Q_PROPERTY(bool checkSpelling READ checkSpelling WRITE setCheckSpelling NOTIFY checkSpellingChanged)
    Q_PROPERTY(QString spellingLanguage READ spellingLanguage WRITE setSpellingLanguage NOTIFY spellingLanguageChanged)
    Q_PROPERTY(bool landscape READ landscape WRITE setLandscape NOTIFY landscapeChanged)
    Q_PROPERTY(double marginMM READ marginMM WRITE setMarginMM NOTIFY marginMMChanged)

public:
    static constexpr double kDefaultFontSize = 17;
    static constexpr double kDefaultContentWidth = 1180;
    static constexpr double kDefaultLineHeight = 1.6;

    explicit Appearance(SettingsStore &store, QObject *parent = nullptr);

    // Made on first use over the standard store.
    static Appearance &shared();

    ThemeKind theme() const { return m_theme; }
    bool themePerFile() const { return m_themePerFile; }
    double fontSize() const { return m_fontSize; }
    double contentWidth() const { return m_contentWidth; }
    double lineHeight() const { return m_lineHeight; }
    QString fontFamily() const { return m_fontFamily; }
    bool showStatusBar() const { return m_showStatusBar; }
    double editorFontSize() const { return m_editorFontSize; }
    bool autoReload() const { return m_autoReload; }
    bool checkSpelling() const { return m_checkSpelling; }
    // A dictionary's name ("en_US"); empty follows the system's language.
    QString spellingLanguage() const { return m_spellingLanguage; }
    PaperSize paperSize() const { return m_paperSize; }
    bool landscape() const { return m_landscape; }
    double marginMM() const { return m_marginMM; }

    void setTheme(ThemeKind theme);
    void setThemePerFile(bool on);
    void setFontSize(double size);
    void setContentWidth(double width);
    void setLineHeight(double height);
    void setFontFamily(const QString &family);
    void setShowStatusBar(bool show);
    void setEditorFontSize(double size);
    void setAutoReload(bool on);
    void setCheckSpelling(bool on);
    void setSpellingLanguage(const QString &language);
    void setPaperSize(PaperSize size);
    void setLandscape(bool on);
    void setMarginMM(double margin);

    // The page's theme payload: compact JSON, keys sorted, for the given (per-window) theme.
    QString jsPayload(ThemeKind theme) const;

    // Asks every open window to take the appearance of its theme again; the application
    // answers windowAppearancesInvalidated(), since this layer knows no windows.
    void applyWindowAppearances();

Q_SIGNALS:
    void themeChanged(quorvel::themes::ThemeKind theme);
    // Emitted before windowAppearancesInvalidated(), so that listeners can resolve every
    // file's theme again first.
    void themePerFileChanged(bool on);
    void fontSizeChanged(double size);
    void contentWidthChanged(double width);
    void lineHeightChanged(double height);
    void fontFamilyChanged(const QString &family);
    void showStatusBarChanged(bool show);
    void editorFontSizeChanged(double size);
    void autoReloadChanged(bool on);
    void checkSpellingChanged(bool on);
    void spellingLanguageChanged(const QString &language);
    void paperSizeChanged(quorvel::themes::PaperSize size);
    void landscapeChanged(bool on);
    void marginMMChanged(double margin);
    void windowAppearancesInvalidated();

private:
    template<typename T, typename Signal>
    void assign(T &member, const T &value, const QString &key, Signal changed);

    SettingsStore &m_store;
    ThemeKind m_theme = ThemeKind::LightSans;
    bool m_themePerFile = true;
    double m_fontSize = kDefaultFontSize;
    double m_contentWidth = kDefaultContentWidth;
    double m_lineHeight = kDefaultLineHeight;
    QString m_fontFamily;
    bool m_showStatusBar = true;
    double m_editorFontSize = 13.5;
    bool m_autoReload = false;
    bool m_checkSpelling = true;
    QString m_spellingLanguage;
    PaperSize m_paperSize = PaperSize::A4;
    bool m_landscape = false;
    double m_marginMM = 20;
};

} // namespace quorvel::themes
