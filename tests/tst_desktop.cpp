#include "modelharness.h"
#include "testsupport.h"

#include "app/icons.h"
#include "app/reloadbanner.h"
#include "core/filewatcher.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QImage>
#include <QSettings>
#include <QTest>

using namespace quorvel;
using themes::FileThemes;
using themes::SettingsStore;
using themes::ThemeKind;

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

// A copy of the settings file under a new name: a store opened on it reads the file's text,
// not the typed values a store on the original keeps in memory for this process.
QString copyOf(const ScratchEnvironment &scratch, const QString &name)
{
    const QString copy = scratch.path(name);
    QFile::remove(copy);
    if (!QFile::copy(scratch.store.fileName(), copy))
        qFatal("cannot copy the settings file");
    return copy;
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

    void fileThemesAreStoredAsEditableText();
    void fileThemesOfEarlierVersionsAreReadAndRewritten();
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
    auto *banner = new app::ReloadBanner(*h.model, *h.document, &window);
    window.show();
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(QTest::qWaitFor([&] { return h.document->watcher()->hasPendingNotification(); }, 5000));
    QCoreApplication::processEvents();
    h.scratch.clock.advance(FileWatcher::kMergeDelay);
    QVERIFY(h.document->externalContent());

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

void TestDesktop::fileThemesAreStoredAsEditableText()
{
    ScratchEnvironment scratch;
    const QString odd = QStringLiteral("/notes/caf\u00e9, \"draft\" = 1.md");
    {
        FileThemes memory(scratch.store);
        memory.remember(ThemeKind::Sage, QStringLiteral("volume:11"), QStringLiteral("/notes/a.md"));
        memory.remember(ThemeKind::Ink, QStringLiteral("path:") + odd, odd);
    }
    const QByteArray text = ScratchEnvironment::read(scratch.store.fileName());
    QVERIFY2(!text.contains("@Variant"), text.constData());
    QVERIFY2(text.contains("theme=sage"), text.constData());

    {
        SettingsStore reread(copyOf(scratch, QStringLiteral("reread.conf")));
        FileThemes memory(reread);
        QCOMPARE(memory.count(), 2);
        QCOMPARE(memory.theme(QStringLiteral("/notes/a.md")), ThemeKind::Sage);
        QCOMPARE(memory.theme(odd), ThemeKind::Ink);
    }

    // What a user changes by hand is what the next run reads.
    QFile edited(scratch.path(QStringLiteral("edited.conf")));
    QVERIFY(edited.open(QIODevice::WriteOnly));
    edited.write(QByteArray(text).replace("theme=sage", "theme=dark"));
    edited.close();
    SettingsStore store(edited.fileName());
    QCOMPARE(FileThemes(store).theme(QStringLiteral("/notes/a.md")), ThemeKind::Dark);
}

void TestDesktop::fileThemesOfEarlierVersionsAreReadAndRewritten()
{
    ScratchEnvironment scratch;
    const QString old = scratch.path(QStringLiteral("old.conf"));
    {
        // What earlier versions wrote: the whole memory as one serialized map.
        QSettings settings(old, QSettings::IniFormat);
        settings.setValue(QStringLiteral("fileThemes"),
                          QVariantMap{{QStringLiteral("volume:7"),
                                       QVariantMap{{QStringLiteral("theme"), QStringLiteral("mist")},
                                                   {QStringLiteral("path"), QStringLiteral("/n/b.md")},
                                                   {QStringLiteral("opened"), 42.0}}}});
    }
    QVERIFY(ScratchEnvironment::read(old).contains("@Variant"));
    {
        SettingsStore store(old);
        FileThemes memory(store);
        QCOMPARE(memory.count(), 1);
        QVERIFY(memory.contains(QStringLiteral("volume:7")));
        QCOMPARE(memory.theme(QStringLiteral("/n/b.md")), ThemeKind::Mist);
    }
    const QByteArray text = ScratchEnvironment::read(old);
    QVERIFY2(!text.contains("@Variant"), text.constData());
    QVERIFY2(text.contains("theme=mist"), text.constData());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
