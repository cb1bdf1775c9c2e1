#include "chromepalette.h"

#include <QApplication>
#include <QStyle>

namespace quorvel::app {

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2A, 0x2A, 0x2D), base(0x1C, 0x1C, 0x1E), text(0xE6, 0xE6, 0xE8);
    const QColor highlight(0x3D, 0x6F, 0xD9), disabled(0x80, 0x80, 0x85);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6C, 0xA0, 0xF0));
    p.setColor(QPalette::PlaceholderText, disabled);
    // Bevels and separators are drawn from these; left at their defaults they are white lines.
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4C));
    p.setColor(QPalette::Midlight, QColor(0x3A, 0x3A, 0x3E));
    p.setColor(QPalette::Mid, QColor(0x33, 0x33, 0x36));
    p.setColor(QPalette::Dark, QColor(0x1A, 0x1A, 0x1C));
    p.setColor(QPalette::Shadow, QColor(0x0E, 0x0E, 0x10));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

} // namespace

QPalette chromePalette(themes::ThemeKind theme)
{
    switch (themes::windowAppearance(theme)) {
    case themes::WindowAppearance::Dark:
        return darkPalette();
    case themes::WindowAppearance::Light:
        return QApplication::style()->standardPalette();
    case themes::WindowAppearance::System:
        break;
    }
    return QApplication::palette();
}

} // namespace quorvel::app
