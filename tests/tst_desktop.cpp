#include "modelharness.h"
#include "testsupport.h"

#include "app/icons.h"
#include "app/reloadbanner.h"
#include "core/filewatcher.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QImage>
#include <QTest>

using namespace quorvel;

namespace {

// The fraction of the icon's pixels that are drawn, and whether every drawn pixel has `color`.
struct Ink
{
    double coverage = 0;
    bool allInColor = true;
};

Ink inkOf(const QPixmap &pixmap, const QColor &color)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            ++drawn;
            // Edge pixels are stored premultiplied; taking the alpha out again rounds a little.
            const auto near = [](int a, int b) { return std::abs(a - b) <= 3; };
            if (c.alpha() > 128
                && !(near(c.red(), color.red()) && near(c.green(), color.green())
                     && near(c.blue(), color.blue())))
                ink.allInColor = false;
        }
    }
    ink.coverage = double(drawn) / (image.width() * image.height());
    return ink;
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyToolbarIconIsDrawnInTheAskedColor_data();
    void everyToolbarIconIsDrawnInTheAskedColor();
    void unknownIconIsNull();

    void reloadBannerIconComesToRest();
};

void TestDesktop::everyToolbarIconIsDrawnInTheAskedColor_data()
{
    QTest::addColumn<QString>("name");
    // The names the toolbar and the find bars ask for; one missing from the set is a blank button.
    for (const char *name : {"read", "edit", "source", "split", "present", "open", "save", "export",
                             "print", "find", "settings", "outline", "bold", "italic", "strike",
                             "reload", "close", "up", "down", "search", "check"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestDesktop::everyToolbarIconIsDrawnInTheAskedColor()
{
    QFETCH(QString, name);
    QVERIFY(app::iconNames().contains(name));
    const QColor color(0x2a, 0x6f, 0xdb);
    const QIcon icon = app::themedIcon(name, color);
    QVERIFY(!icon.isNull());
    for (qreal ratio : {1.0, 2.0}) {
        const QPixmap pixmap = icon.pixmap(QSize(16, 16), ratio);
        QCOMPARE(pixmap.size(), QSize(16, 16) * ratio);
        const Ink ink = inkOf(pixmap, color);
        // A line drawing: some ink, but not a filled square (a failed render is blank or solid).
        QVERIFY2(ink.coverage > 0.05 && ink.coverage < 0.7, qPrintable(QString::number(ink.coverage)));
        QVERIFY(ink.allInColor);
    }
    // Disabled is the same drawing, fainter, not the style's grey.
    const QImage disabled = icon.pixmap(QSize(16, 16), 1.0, QIcon::Disabled).toImage();
    int strongest = 0;
    for (int y = 0; y < disabled.height(); ++y)
        for (int x = 0; x < disabled.width(); ++x)
            strongest = std::max(strongest, disabled.pixelColor(x, y).alpha());
    QVERIFY(strongest > 0 && strongest < 160);
}

void TestDesktop::unknownIconIsNull()
{
    QVERIFY(app::themedIcon(QStringLiteral("no-such-icon"), Qt::black).isNull());
}

void TestDesktop::reloadBannerIconComesToRest()
{
    FakePreviewFactory previews;
    Harness h("mine\n");
    h.scratch.appearance.setAutoReload(false); // so the change waits in the banner
    QWidget window;
    auto *banner = new app::ReloadBanner(*h.model, &window);
    window.show();
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(QTest::qWaitFor([&] { return h.model->watcher()->hasPendingNotification(); }, 5000));
    QCoreApplication::processEvents();
    h.scratch.clock.advance(FileWatcher::kMergeDelay);
    QVERIFY(h.model->externalContent());

    const auto running = [banner] {
        int n = 0;
        for (const QAbstractAnimation *a : banner->findChildren<QAbstractAnimation *>())
            n += a->state() == QAbstractAnimation::Running;
        return n;
    };
    QVERIFY(waitUntil([&] { return banner->isVisible(); }, 5000));
    QVERIFY(running() > 0); // it does draw the eye
    // Then everything stops while the change still waits: an idle window repaints nothing.
    QVERIFY(waitUntil([&] { return running() == 0; }, 10000));
    QVERIFY(banner->isVisible());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
