#include "themekind.h"

#include <QCoreApplication>

namespace quorvel::themes {

namespace {

struct ThemeRow
{
    ThemeKind kind;
    const char *stored;
    const char *label;
    WindowAppearance appearance;
    QRgb background; // 0 when the theme keeps the platform's colours
    QRgb text;
};

constexpr std::array<ThemeRow, 11> kRows{{
    {ThemeKind::LightSans, "light-sans", QT_TRANSLATE_NOOP("quorvel::themes", "Light Sans"), WindowAppearance::Light, 0xFFFFFF, 0x1F2733},
    {ThemeKind::LightSerif, "light-serif", QT_TRANSLATE_NOOP("quorvel::themes", "Light Serif"), WindowAppearance::Light, 0xFFFFFF,
     0x1F2733},
    {ThemeKind::Cream, "cream", QT_TRANSLATE_NOOP("quorvel::themes", "Cream"), WindowAppearance::Light, 0xF8F3E7, 0x2B2620},
    {ThemeKind::Dark, "dark", QT_TRANSLATE_NOOP("quorvel::themes", "Dark"), WindowAppearance::Dark, 0x1C1C1E, 0xE6E6E8},
    {ThemeKind::System, "system", QT_TRANSLATE_NOOP("quorvel::themes", "System"), WindowAppearance::System, 0, 0},
    {ThemeKind::Sepia, "sepia", QT_TRANSLATE_NOOP("quorvel::themes", "Sepia"), WindowAppearance::Light, 0xF1E7D4, 0x3D3225},
    {ThemeKind::Ink, "ink", QT_TRANSLATE_NOOP("quorvel::themes", "Ink"), WindowAppearance::Light, 0xFFFFFF, 0x000000},
    {ThemeKind::SolarizedLight, "solarized-light", QT_TRANSLATE_NOOP("quorvel::themes", "Solarized Light"), WindowAppearance::Light,
     0xFDF6E3, 0x586E75},
    {ThemeKind::Mist, "mist", QT_TRANSLATE_NOOP("quorvel::themes", "Mist"), WindowAppearance::Light, 0xF3F5F9, 0x2B3442},
    {ThemeKind::Linen, "linen", QT_TRANSLATE_NOOP("quorvel::themes", "Linen"), WindowAppearance::Light, 0xFAF6EF, 0x3A342C},
    {ThemeKind::Sage, "sage", QT_TRANSLATE_NOOP("quorvel::themes", "Sage"), WindowAppearance::Light, 0xF2F6F1, 0x2C3A30},
}};

const ThemeRow &row(ThemeKind theme)
{
    const auto &r = kRows[static_cast<size_t>(theme)];
    Q_ASSERT(r.kind == theme);
    return r;
}

} // namespace

const std::array<ThemeKind, 11> &allThemes()
{
    static const std::array<ThemeKind, 11> all = [] {
        std::array<ThemeKind, 11> a{};
        for (size_t i = 0; i < kRows.size(); ++i)
            a[i] = kRows[i].kind;
        return a;
    }();
    return all;
}

QString storedName(ThemeKind theme)
{
    return QString::fromLatin1(row(theme).stored);
}

std::optional<ThemeKind> themeFromStoredName(QStringView name)
{
    for (const auto &r : kRows) {
        if (name == QLatin1StringView(r.stored))
            return r.kind;
    }
    return std::nullopt;
}

QString label(ThemeKind theme)
{
    return QCoreApplication::translate("quorvel::themes", row(theme).label);
}

WindowAppearance windowAppearance(ThemeKind theme)
{
    return row(theme).appearance;
}

std::optional<EditorColors> editorColors(ThemeKind theme)
{
    const auto &r = row(theme);
    if (r.appearance == WindowAppearance::System)
        return std::nullopt;
    return EditorColors{QColor::fromRgb(r.background), QColor::fromRgb(r.text)};
}

const QHash<QString, ThemeKind> &renamedThemes()
{
    static const QHash<QString, ThemeKind> renamed{
        {QStringLiteral("encre"), ThemeKind::Ink},
        {QStringLiteral("brume"), ThemeKind::Mist},
        {QStringLiteral("lin"), ThemeKind::Linen},
        {QStringLiteral("sauge"), ThemeKind::Sage},
    };
    return renamed;
}

const QList<ThemeKind> &themeRotation()
{
    static const QList<ThemeKind> rotation{
        ThemeKind::LightSans, ThemeKind::Sepia, ThemeKind::Mist,  ThemeKind::Dark,
        ThemeKind::Linen,     ThemeKind::Ink,   ThemeKind::Sage,  ThemeKind::Cream,
        ThemeKind::SolarizedLight, ThemeKind::LightSerif,
    };
    return rotation;
}

} // namespace quorvel::themes
