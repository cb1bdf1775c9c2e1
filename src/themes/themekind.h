#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace quorvel::themes {

// The eleven reading themes. Persisted and sent to the page by stored name, never by position.
enum class ThemeKind {
    LightSans,
    LightSerif,
    Cream,
    Dark,
    System,
    Sepia,
    Ink,
    SolarizedLight,
    Mist,
    Linen,
    Sage,
};

enum class WindowAppearance { Light, Dark, System };

struct EditorColors
{
    QColor background;
    QColor text;
    bool operator==(const EditorColors &) const = default;
};

// Every theme in declaration order: the order of every menu and picker.
const std::array<ThemeKind, 11> &allThemes();

QString storedName(ThemeKind theme);
// Exact, case-sensitive match on the stored name; labels and legacy names give nothing.
std::optional<ThemeKind> themeFromStoredName(QStringView name);
QString label(ThemeKind theme);
WindowAppearance windowAppearance(ThemeKind theme);
// Absent for `system`: the editor then keeps the platform's own text colours.
std::optional<EditorColors> editorColors(ThemeKind theme);

// Legacy stored names still honoured for the application-wide theme only.
const QHash<QString, ThemeKind> &renamedThemes();
// The themes handed out to new files, in order; `system` is not among them.
const QList<ThemeKind> &themeRotation();

} // namespace quorvel::themes
