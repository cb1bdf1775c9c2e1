#include "testsupport.h"

#include "app/settingswindow.h"
#include "app/support.h"
#include "app/updater.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QUrlQuery>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::SettingsWindow;
using app::Updater;

namespace {

// Serves only local files and remembers every address asked for, so that a test can both feed
// a feed and prove that nothing was fetched at all.
class RecordingNetwork : public QNetworkAccessManager
{
public:
    QList<QUrl> asked;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *data) override
    {
        asked.append(request.url());
        QNetworkRequest local = request;
        if (!request.url().isLocalFile())
            local.setUrl(QUrl(u"file:///nonexistent/refused"_s));
        return QNetworkAccessManager::createRequest(op, local, data);
    }
};

QByteArray appcast(const QByteArray &items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Quorvel</title>)" + items + "</channel></rss>";
}

QByteArray item(const QByteArray &version, const QByteArray &extra = {})
{
    return "<item><title>Quorvel " + version + "</title><link>https://quorvel.org/releases/"
        + version + "</link><sparkle:shortVersionString>" + version
        + "</sparkle:shortVersionString>" + extra + "</item>";
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void versionsCompare_data();
    void versionsCompare();
    void appcastGivesTheNewestLaterRelease_data();
    void appcastGivesTheNewestLaterRelease();
    void versionLabelMarksWhatIsMissing_data();
    void versionLabelMarksWhatIsMissing();
    void feedbackUrlAlwaysCarriesItsQueryAndFragment_data();
    void feedbackUrlAlwaysCarriesItsQueryAndFragment();
    void automaticCheckIsDueOnceADay_data();
    void automaticCheckIsDueOnceADay();
    void automaticChecksRunDailyAndOnlyWhenAllowed();
    void checkNowReportsEveryOutcome();

    void slidersWriteWithinTheirRange_data();
    void slidersWriteWithinTheirRange();
    void switchesWriteTheirSetting_data();
    void switchesWriteTheirSetting();
    void themePickerShowsOnlyWithoutPerFileThemes();
    void labelsTellValuesBeyondTheSlidersReach();
    void downloadSwitchFollowsAutomaticChecks();
    void eachTabIsAsTallAsWhatItHolds();
};

void TestShell::cleanup()
{
    Updater::setNetworkAllowed(false);
}

void TestShell::versionsCompare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("equal") << u"1.4"_s << u"1.4"_s << 0;
    QTest::newRow("trailing zero") << u"1.0"_s << u"1.0.0"_s << 0;
    QTest::newRow("numbers, not text") << u"1.10"_s << u"1.9"_s << 1;
    QTest::newRow("major first") << u"2.0"_s << u"10.0"_s << -1;
    QTest::newRow("patch release") << u"1.0.1"_s << u"1.0"_s << 1;
    QTest::newRow("beta before release") << u"1.0b2"_s << u"1.0"_s << -1;
    QTest::newRow("beta numbers") << u"1.0b2"_s << u"1.0b10"_s << -1;
    QTest::newRow("rc after beta") << u"1.0rc1"_s << u"1.0b3"_s << 1;
    QTest::newRow("patch beats beta") << u"1.0.1"_s << u"1.0b1"_s << 1;
    QTest::newRow("v prefix") << u"v1.2"_s << u"1.1"_s << 1;
    QTest::newRow("huge number") << u"1.99999999999999999999"_s << u"1.1"_s << 1;
    QTest::newRow("empty") << QString() << u"0.1"_s << -1;
}

void TestShell::versionsCompare()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(Updater::compareVersions(a, b), order);
    QCOMPARE(Updater::compareVersions(b, a), -order);
}

void TestShell::appcastGivesTheNewestLaterRelease_data()
{
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<QString>("newer"); // empty: no update
    QTest::addColumn<QString>("page");

    QTest::newRow("newest of several, any order")
        << appcast(item("0.2") + item("1.1") + item("0.9")) << u"1.1"_s
        << u"https://quorvel.org/releases/1.1"_s;
    QTest::newRow("version on the enclosure, page from it")
        << appcast(R"(<item><title>1.5</title><enclosure url="https://quorvel.org/q-1.5.tar.gz"
                   sparkle:version="57" sparkle:shortVersionString="1.5" length="1"/></item>)")
        << u"1.5"_s << u"https://quorvel.org/q-1.5.tar.gz"_s;
    QTest::newRow("build version when no short one")
        << appcast("<item><sparkle:version>0.3</sparkle:version></item>") << u"0.3"_s << QString();
    QTest::newRow("other systems' releases skipped")
        << appcast(item("3.0", R"(<enclosure url="https://x/q.dmg" sparkle:os="macos"/>)")
                   + item("0.5", R"(<enclosure url="https://x/q.tgz" sparkle:os="linux"/>)"))
        << u"0.5"_s << u"https://quorvel.org/releases/0.5"_s;
    QTest::newRow("unsafe page dropped")
        << appcast("<item><link>javascript:alert(1)</link><sparkle:version>2</sparkle:version></item>")
        << u"2"_s << QString();
    QTest::newRow("only older or equal") << appcast(item("0.1.0") + item("0.0.9")) << QString() << QString();
    QTest::newRow("no items") << appcast({}) << QString() << QString();
    QTest::newRow("items without version") << appcast("<item><title>9.0</title></item>") << QString() << QString();
    QTest::newRow("cut off") << appcast(item("2.0")).left(200) << QString() << QString();
    QTest::newRow("not closed") << appcast(item("2.0")).replace("</item>", "") << QString() << QString();
    QTest::newRow("web page") << QByteArray("<html><body>moved</body></html>") << QString() << QString();
    QTest::newRow("empty") << QByteArray() << QString() << QString();
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe<rss>\x01", 9) << QString() << QString();
}

void TestShell::appcastGivesTheNewestLaterRelease()
{
    QFETCH(QByteArray, feed);
    QFETCH(QString, newer);
    QFETCH(QString, page);
    const auto release = Updater::newerRelease(Updater::parseAppcast(feed), u"0.1.0"_s);
    QCOMPARE(release.has_value(), !newer.isEmpty());
    if (release) {
        QCOMPARE(release->version, newer);
        QCOMPARE(release->page, QUrl(page));
    }
}

void TestShell::versionLabelMarksWhatIsMissing_data()
{
    QTest::addColumn<QVariant>("release");
    QTest::addColumn<QVariant>("build");
    QTest::addColumn<QString>("label");
    QTest::newRow("both") << QVariant(u"1.4"_s) << QVariant(u"57"_s) << u"Version 1.4 (57)"_s;
    QTest::newRow("no build") << QVariant(u"1.4"_s) << QVariant() << u"Version 1.4 (?)"_s;
    QTest::newRow("build not text") << QVariant(u"1.4"_s) << QVariant(57) << u"Version 1.4 (?)"_s;
    QTest::newRow("no release") << QVariant() << QVariant(u"57"_s) << u"Version ? (57)"_s;
}

void TestShell::versionLabelMarksWhatIsMissing()
{
    QFETCH(QVariant, release);
    QFETCH(QVariant, build);
    QFETCH(QString, label);
    QCOMPARE(app::support::versionLabel(release, build), label);
}

void TestShell::feedbackUrlAlwaysCarriesItsQueryAndFragment_data()
{
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("kernel");
    QTest::addColumn<QString>("query");
    QTest::newRow("debian") << u"1.4"_s << u"12"_s << u"6.1.0-13-amd64"_s << u"from=app&v=1.4&os=12.0.0"_s;
    QTest::newRow("ubuntu") << u"1.4"_s << u"24.04"_s << u"6.8.0"_s << u"from=app&v=1.4&os=24.4.0"_s;
    QTest::newRow("rolling, no release")
        << QString() << u"unknown"_s << u"6.6.7-arch1-1"_s << u"from=app&v=&os=6.6.7"_s;
}

void TestShell::feedbackUrlAlwaysCarriesItsQueryAndFragment()
{
    QFETCH(QString, release);
    QFETCH(QString, product);
    QFETCH(QString, kernel);
    QFETCH(QString, query);
    const QUrl url = app::support::feedbackUrl(release, app::support::osVersion(product, kernel));
    QCOMPARE(url.path(), u"/quorvel/"_s);
    QCOMPARE(url.query(), query);
    QCOMPARE(url.fragment(), u"feedback"_s);
    QCOMPARE(app::support::supportUrl().path(), u"/quorvel/support"_s);
    QVERIFY(!app::support::supportUrl().hasQuery());
}

void TestShell::automaticCheckIsDueOnceADay_data()
{
    QTest::addColumn<QDateTime>("last");
    QTest::addColumn<bool>("due");
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    QTest::addColumn<QDateTime>("now");
    QTest::newRow("never") << QDateTime() << true << now;
    QTest::newRow("a minute short of a day") << now.addSecs(-(24 * 3600 - 60)) << false << now;
    QTest::newRow("a day") << now.addDays(-1) << true << now;
    QTest::newRow("clock set back") << now.addSecs(3600) << true << now;
}

void TestShell::automaticCheckIsDueOnceADay()
{
    QFETCH(QDateTime, last);
    QFETCH(bool, due);
    QFETCH(QDateTime, now);
    QCOMPARE(Updater::isCheckDue(last, now), due);
}

void TestShell::automaticChecksRunDailyAndOnlyWhenAllowed()
{
    ScratchEnvironment scratch;
    RecordingNetwork network;
    const QUrl feed = QUrl::fromLocalFile(scratch.write(u"appcast.xml"_s, appcast(item("2.0"))));
    Updater updater(scratch.store, scratch.clock, &network, u"0.1.0"_s, feed);
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.setAutomaticallyChecks(true);
    updater.start();

    // Not allowed: days pass, nothing is asked, and the user cannot ask either.
    scratch.clock.advance(48h);
    updater.checkNow();
    QVERIFY(network.asked.isEmpty());
    QVERIFY(!updater.canCheck());

    Updater::setNetworkAllowed(true);
    QVERIFY(updater.canCheck());
    scratch.clock.advance(5s);
    QVERIFY(finished.wait(5000));
    QCOMPARE(network.asked, QList<QUrl>{feed});
    QCOMPARE(finished.at(0).at(0).value<Updater::Outcome>(), Updater::Outcome::UpdateAvailable);
    QCOMPARE(finished.at(0).at(1).value<Updater::Release>().version, u"2.0"_s);
    QCOMPARE(finished.at(0).at(3).toBool(), false);
    QCOMPARE(updater.lastCheck(), scratch.clock.now());

    // The next one comes a day after the last, not before; a restart keeps the date.
    scratch.clock.advance(23h);
    QCOMPARE(network.asked.size(), 1);
    Updater again(scratch.store, scratch.clock, &network, u"0.1.0"_s, feed);
    again.start();
    scratch.clock.advance(59min);
    QCOMPARE(network.asked.size(), 1);
    scratch.clock.advance(1min);
    QTRY_COMPARE(finished.size(), 2);
    QVERIFY(network.asked.size() >= 2);

    // Off means off, for every instance over the same settings.
    const qsizetype asked = network.asked.size();
    QTRY_VERIFY(updater.canCheck() && again.canCheck());
    updater.setAutomaticallyChecks(false);
    again.setAutomaticallyChecks(false);
    scratch.clock.advance(72h);
    QCOMPARE(network.asked.size(), asked);
}

void TestShell::checkNowReportsEveryOutcome()
{
    ScratchEnvironment scratch;
    RecordingNetwork network;
    Updater::setNetworkAllowed(true);
    const QUrl current = QUrl::fromLocalFile(scratch.write(u"old.xml"_s, appcast(item("0.1"))));
    const QUrl missing = QUrl::fromLocalFile(scratch.path(u"missing.xml"_s));
    for (const auto &[feed, outcome] : {std::pair{current, Updater::Outcome::UpToDate},
                                        std::pair{missing, Updater::Outcome::Failed}}) {
        Updater updater(scratch.store, scratch.clock, &network, u"0.1.0"_s, feed);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        QVERIFY(!updater.canCheck()); // not before the program starts it
        updater.start();
        updater.checkNow();
        QVERIFY(!updater.canCheck()); // one at a time
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).value<Updater::Outcome>(), outcome);
        QCOMPARE(finished.at(0).at(3).toBool(), true);
        QVERIFY(updater.canCheck());
    }
    for (const QUrl &url : std::as_const(network.asked))
        QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
}

// --- the settings window

namespace {

struct WindowFixture
{
    ScratchEnvironment scratch;
    QNetworkAccessManager network;
    Updater updater{scratch.store, scratch.clock, &network, u"0.1.0"_s, QUrl()};
    SettingsWindow window{scratch.appearance, updater};

    template<typename T>
    T *find(const QString &name)
    {
        auto *found = window.findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
};

} // namespace

void TestShell::slidersWriteWithinTheirRange_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("action");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("label");
    QTest::newRow("text size top") << u"fontSize"_s << int(QSlider::SliderToMaximum) << 28.0 << u"Text size: 28 px"_s;
    QTest::newRow("text size bottom") << u"fontSize"_s << int(QSlider::SliderToMinimum) << 11.0 << u"Text size: 11 px"_s;
    QTest::newRow("width beyond the menu's 1400") << u"contentWidth"_s << int(QSlider::SliderToMaximum) << 1800.0 << u"Content width: 1800 px"_s;
    QTest::newRow("width step of 20") << u"contentWidth"_s << int(QSlider::SliderSingleStepAdd) << 1200.0 << u"Content width: 1200 px"_s;
    QTest::newRow("line spacing step") << u"lineHeight"_s << int(QSlider::SliderSingleStepSub) << 1.55 << u"Line spacing: 1.55"_s;
    QTest::newRow("editor half points") << u"editorFontSize"_s << int(QSlider::SliderSingleStepAdd) << 14.0 << u"Editor font size: 14.0 pt"_s;
    QTest::newRow("margins bottom") << u"marginMM"_s << int(QSlider::SliderToMinimum) << 5.0 << u"Margins: 5 mm"_s;
}

void TestShell::slidersWriteWithinTheirRange()
{
    QFETCH(QString, name);
    QFETCH(int, action);
    QFETCH(double, value);
    QFETCH(QString, label);
    WindowFixture f;
    auto *slider = f.find<QSlider>(name);
    slider->triggerAction(QSlider::SliderAction(action));
    slider->triggerAction(QSlider::SliderAction(action)); // the ends hold
    if (action == QSlider::SliderSingleStepAdd || action == QSlider::SliderSingleStepSub)
        slider->triggerAction(QSlider::SliderAction(action == QSlider::SliderSingleStepAdd
                                                        ? QSlider::SliderSingleStepSub
                                                        : QSlider::SliderSingleStepAdd));
    QCOMPARE(f.scratch.appearance.property(name.toUtf8()).toDouble(), value);
    QCOMPARE(f.scratch.store.number(name).value_or(-1), value);
    auto *form = qobject_cast<QFormLayout *>(slider->parentWidget()->layout());
    QCOMPARE(qobject_cast<QLabel *>(form->labelForField(slider))->text(), label);
}

void TestShell::switchesWriteTheirSetting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("value");
    QTest::newRow("status bar") << u"showStatusBar"_s << u"showStatusBar"_s << false;
    QTest::newRow("reload") << u"autoReload"_s << u"autoReload"_s << true;
    QTest::newRow("landscape") << u"landscape"_s << u"landscape"_s << true;
    QTest::newRow("automatic checks") << u"automaticallyChecks"_s << u"automaticallyChecksForUpdates"_s << true;
}

void TestShell::switchesWriteTheirSetting()
{
    QFETCH(QString, name);
    QFETCH(QString, setting);
    QFETCH(bool, value);
    WindowFixture f;
    f.find<QAbstractButton>(name)->click();
    QCOMPARE(f.scratch.store.boolean(setting).value_or(!value), value);
}

void TestShell::themePickerShowsOnlyWithoutPerFileThemes()
{
    WindowFixture f;
    f.window.show();
    auto *perFile = f.find<QCheckBox>(u"themePerFile"_s);
    auto *picker = f.find<QComboBox>(u"theme"_s);
    auto *note = f.find<QLabel>(u"themePerFileNote"_s);
    QVERIFY(perFile->isChecked());
    QVERIFY(picker->isHidden() && !note->isHidden());

    perFile->click();
    QVERIFY(!f.scratch.appearance.themePerFile());
    QVERIFY(!picker->isHidden() && note->isHidden());
    // Shown, and given room: a row once laid out hidden must not come back flat.
    QTRY_COMPARE(picker->height(), picker->sizeHint().height());
    picker->setCurrentIndex(picker->findText(themes::label(themes::ThemeKind::Sepia)));
    Q_EMIT picker->activated(picker->currentIndex());
    QCOMPARE(f.scratch.appearance.theme(), themes::ThemeKind::Sepia);

    perFile->click();
    QVERIFY(picker->isHidden() && !note->isHidden());
}

void TestShell::labelsTellValuesBeyondTheSlidersReach()
{
    WindowFixture f;
    // What the View menu's Larger Text can reach, the slider cannot: it rests at its end and
    // writes nothing back.
    f.scratch.appearance.setFontSize(40);
    auto *slider = f.find<QSlider>(u"fontSize"_s);
    QCOMPARE(slider->value(), slider->maximum());
    auto *form = qobject_cast<QFormLayout *>(slider->parentWidget()->layout());
    QCOMPARE(qobject_cast<QLabel *>(form->labelForField(slider))->text(), u"Text size: 40 px"_s);
    QCOMPARE(f.scratch.appearance.fontSize(), 40.0);

    f.find<QPushButton>(u"resetTypography"_s)->click();
    QCOMPARE(f.scratch.appearance.fontSize(), 17.0);
    QCOMPARE(f.scratch.appearance.contentWidth(), 1180.0);
    QCOMPARE(f.scratch.appearance.lineHeight(), 1.6);
    QCOMPARE(slider->value(), 17 - 11);

    QTest::keyClicks(f.find<QLineEdit>(u"fontFamily"_s), u"Georgia"_s);
    QCOMPARE(f.scratch.store.string(u"fontFamily"_s).value_or(QString()), u"Georgia"_s);
}

// No tab sits in the tallest one's height with an empty area under its controls.
void TestShell::eachTabIsAsTallAsWhatItHolds()
{
    WindowFixture f;
    f.window.show();
    QTabWidget *tabs = f.window.tabs();
    QVERIFY(tabs->count() > 1);
    for (int i = tabs->count() - 1; i >= 0; --i) {
        tabs->setCurrentIndex(i);
        QWidget *page = tabs->widget(i);
        QTRY_VERIFY2(page->height() - page->sizeHint().height() <= 4,
                     qPrintable(u"%1: %2 high for %3"_s.arg(tabs->tabText(i))
                                    .arg(page->height())
                                    .arg(page->sizeHint().height())));
    }
}

void TestShell::downloadSwitchFollowsAutomaticChecks()
{
    WindowFixture f;
    auto *checks = f.find<QCheckBox>(u"automaticallyChecks"_s);
    auto *downloads = f.find<QCheckBox>(u"automaticallyDownloads"_s);
    QVERIFY(!downloads->isEnabled());
    checks->click();
    QVERIFY(downloads->isEnabled());
    downloads->click();
    QVERIFY(f.updater.automaticallyDownloads());

    checks->click();
    QVERIFY(!downloads->isEnabled());
    QVERIFY(downloads->isChecked());
    QVERIFY(f.updater.automaticallyDownloads());
    // Not started and no network: nothing to check with.
    QVERIFY(!f.find<QPushButton>(u"checkNow"_s)->isEnabled());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
