#pragma once

#include "themes/themekind.h"

#include <QPalette>

namespace quorvel::app {

// The palette of a window's own controls (toolbar, menus, bars, dialogs) for a theme, so that
// a dark note is never framed by light chrome.
QPalette chromePalette(themes::ThemeKind theme);

} // namespace quorvel::app
