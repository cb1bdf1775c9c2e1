#pragma once

#include "themes/themekind.h"

#include <QColor>
#include <QPalette>

namespace quorvel::app {

// The palette of a window's own controls (menu bar, toolbar, status bar, outline, find bars,
// banners, menus, dialogs) for a theme. It is worked out from the theme's page and text colours
// alone, so that a cream page gets cream-tinted chrome, a dark page a dark window, and a theme
// added to the catalogue needs nothing here. `system` takes the platform palette's text and
// background colours through the same derivation.
QPalette chromePalette(themes::ThemeKind theme);
// The same derivation from any pair of page colours.
QPalette chromePalette(const QColor &page, const QColor &text);

// The contrast ratio of two colours (1 to 21), from their relative luminance in sRGB; a colour
// that is not opaque is first laid over `under`.
double contrastRatio(const QColor &a, const QColor &b, const QColor &under = Qt::white);

// The least contrast any text of the chrome keeps against what it is drawn on.
inline constexpr double kChromeTextContrast = 4.5;

} // namespace quorvel::app
