#pragma once

#include "themes/appearance.h"

#include <algorithm>

namespace quorvel::app::typography {

// The View menu's steps. The settings take any value; the bounds are the menu's, so that a
// value set elsewhere (a hand-edited file) is left alone until the user steps it.
inline double larger(double fontSize) { return fontSize + 1; }
inline double smaller(double fontSize) { return std::max(fontSize - 1, 10.0); }
inline double narrower(double width) { return std::max(width - 40, 520.0); }
inline double wider(double width) { return std::min(width + 40, 1400.0); }
inline double tighter(double lineHeight) { return std::max(lineHeight - 0.05, 1.2); }
inline double looser(double lineHeight) { return std::min(lineHeight + 0.05, 2.2); }

// Text size, content width and line height as they are out of the box.
inline void reset(themes::Appearance &appearance)
{
    appearance.setFontSize(themes::Appearance::kDefaultFontSize);
    appearance.setContentWidth(themes::Appearance::kDefaultContentWidth);
    appearance.setLineHeight(themes::Appearance::kDefaultLineHeight);
}

// Toolbar labels beside the icons only when the window is wide enough for them: the width,
// less the outline column when it shows, at least 880.
inline bool wideToolbar(double windowWidth, bool outlineShown)
{
    return windowWidth - (outlineShown ? 250 : 0) >= 880;
}

} // namespace quorvel::app::typography
