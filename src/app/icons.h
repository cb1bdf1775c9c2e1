#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

namespace quorvel::app {

// A toolbar icon from the app's own set (:/icons/<name>.svg, drawn in black), painted in `color`
// so that it follows the palette: pass the palette's button text colour for the current theme
// and ask again when the palette changes. Carries 16 and 24 px sizes at 1x and 2x, and a faded
// Disabled form in the same colour (the style's own greying would lose the tint). A null icon
// when there is no icon of that name.
QIcon themedIcon(const QString &name, const QColor &color);

// The names the set has, for menus that list them and for checks that none went missing.
QStringList iconNames();

} // namespace quorvel::app
