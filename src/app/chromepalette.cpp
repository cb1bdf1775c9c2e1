#include "chromepalette.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace quorvel::app {

namespace {

double channel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF())
           + 0.0722 * channel(rgb.blueF());
}

// `t` of the way from `a` to `b`.
QColor mix(const QColor &a, const QColor &b, double t)
{
    const auto at = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(at(a.red(), b.red()), at(a.green(), b.green()), at(a.blue(), b.blue()));
}

// `ink` as it is, or moved towards black or white (whichever the surfaces are further from) just
// far enough to be read on every one of them. Colours are kept in whole steps of 1/255, so the
// aim is a little above the least contrast, not on it.
QColor readable(const QColor &ink, std::initializer_list<QColor> surfaces)
{
    constexpr double kAim = kChromeTextContrast + 0.1;
    const auto reads = [&](const QColor &c) {
        return std::all_of(surfaces.begin(), surfaces.end(),
                           [&](const QColor &s) { return contrastRatio(c, s) >= kAim; });
    };
    if (reads(ink))
        return ink;
    double lightest = 0;
    for (const QColor &s : surfaces)
        lightest = std::max(lightest, luminance(s));
    const QColor extreme = lightest > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 20; ++step) {
        const QColor moved = mix(ink, extreme, step / 20.0);
        if (reads(moved))
            return moved;
    }
    return extreme;
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b, const QColor &under)
{
    const auto flat = [&under](const QColor &c) {
        return c.alpha() == 255 ? c : mix(under, c, c.alphaF());
    };
    const QColor below = flat(b);
    const double la = luminance(a.alpha() == 255 ? a : mix(below, a, a.alphaF()));
    const double lb = luminance(below);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette chromePalette(const QColor &page, const QColor &pageText)
{
    const bool dark = luminance(page) < luminance(pageText);
    // The page itself is the base of fields and lists; the bars around it are the page shaded a
    // little towards its text, which keeps the page's tint (cream, sage, blue-grey).
    const QColor base = page;
    const QColor window = mix(page, pageText, dark ? 0.07 : 0.045);
    const QColor button = mix(page, pageText, dark ? 0.12 : 0.02);
    const QColor banner = mix(page, pageText, dark ? 0.13 : 0.09);
    const std::initializer_list<QColor> surfaces{base, window, button, banner};
    const QColor text = readable(pageText, surfaces);
    const QColor secondary = readable(mix(pageText, window, 0.42), surfaces);

    // One accent for selection and links, deep enough under white text and, as a link, clear on
    // the page whether light or dark.
    QColor highlight(0x2F, 0x6B, 0xD8);
    if (dark)
        highlight = QColor(0x3D, 0x6F, 0xD9);
    const QColor highlightedText(Qt::white);
    for (int step = 1; contrastRatio(highlightedText, highlight) < kChromeTextContrast + 0.1
                       && step <= 20;
         ++step)
        highlight = mix(highlight, Qt::black, 0.05);
    const QColor link = readable(dark ? mix(highlight, Qt::white, 0.35) : highlight, {base, window});

    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, banner);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, dark ? QColor(Qt::white) : QColor(Qt::black));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, highlightedText);
    p.setColor(QPalette::Link, link);
    p.setColor(QPalette::LinkVisited, link);
    p.setColor(QPalette::PlaceholderText, secondary);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    p.setColor(QPalette::Accent, highlight);
#endif
    // Bevels, frames and separators are drawn from these; left at their defaults they are white
    // lines on a dark window and grey ones on a cream one.
    p.setColor(QPalette::Light, dark ? mix(page, pageText, 0.2) : mix(page, Qt::white, 0.6));
    p.setColor(QPalette::Midlight, mix(page, pageText, dark ? 0.15 : 0.08));
    p.setColor(QPalette::Mid, mix(page, pageText, dark ? 0.25 : 0.2));
    p.setColor(QPalette::Dark, dark ? mix(page, Qt::black, 0.4) : mix(page, pageText, 0.35));
    p.setColor(QPalette::Shadow, dark ? mix(page, Qt::black, 0.7) : mix(page, pageText, 0.5));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, secondary);
    p.setColor(QPalette::Disabled, QPalette::Highlight, mix(window, pageText, 0.2));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, text);
    return p;
}

QPalette chromePalette(themes::ThemeKind theme)
{
    if (const auto colors = themes::editorColors(theme))
        return chromePalette(colors->background, colors->text);
    // `system`: the platform's own page and text colours, which follow its light or dark mode.
    const QPalette platform = QGuiApplication::palette();
    return chromePalette(platform.color(QPalette::Base), platform.color(QPalette::Text));
}

} // namespace quorvel::app
