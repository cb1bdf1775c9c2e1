#include "icons.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource lives in a static library: without a reference from code the linker drops it.
// Q_INIT_RESOURCE has to be called outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace quorvel::app {

namespace {

void ensureResources()
{
    static const bool done = [] {
        initIconResources();
        return true;
    }();
    Q_UNUSED(done);
}

// The drawing is black on transparent; SourceIn keeps its coverage (the anti-aliased edges too)
// and takes the colour, alpha included, from `color`.
QPixmap render(QSvgRenderer &svg, int side, qreal ratio, const QColor &color)
{
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(0, 0, pixmap.width(), pixmap.height()));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace

QIcon themedIcon(const QString &name, const QColor &color)
{
    ensureResources();
    const QString file = QStringLiteral(":/icons/%1.svg").arg(name);
    if (!QFile::exists(file))
        return {};
    QSvgRenderer svg(file);
    if (!svg.isValid())
        return {};
    QColor faded = color;
    faded.setAlphaF(color.alphaF() * 0.4f);
    QIcon icon;
    for (int side : {16, 24}) {
        for (qreal ratio : {1.0, 2.0}) {
            icon.addPixmap(render(svg, side, ratio, color), QIcon::Normal);
            icon.addPixmap(render(svg, side, ratio, faded), QIcon::Disabled);
        }
    }
    return icon;
}

QStringList iconNames()
{
    ensureResources();
    QStringList names;
    const auto files = QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")},
                                                               QDir::Files, QDir::Name);
    for (const QString &file : files)
        names.append(file.chopped(4));
    return names;
}

} // namespace quorvel::app
