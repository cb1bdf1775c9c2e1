#include "app/commandline.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using quorvel::app::CommandLine;

// What is installed beside the program says the same as the program: the manual page lists the
// options that --help prints, and the software-centre entry names the version being built.
class TestPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void manualListsEveryOptionOfHelp_data();
    void manualListsEveryOptionOfHelp();
    void installedFilesNameThisVersion_data();
    void installedFilesNameThisVersion();

private:
    static QString read(const char *path)
    {
        QFile file(QString::fromUtf8(path));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", path);
        return QString::fromUtf8(file.readAll());
    }
};

void TestPackage::manualListsEveryOptionOfHelp_data()
{
    QTest::addColumn<QString>("option");
    // The option column of the help: lines indented by two, one or more flags before the text.
    static const QRegularExpression row(QStringLiteral("^  ((?:-[-\\w]+(?:, )?)+)"),
                                        QRegularExpression::MultilineOption);
    int rows = 0;
    for (const auto &match : row.globalMatch(QString::fromUtf8(CommandLine::usage()))) {
        for (const QString &flag : match.captured(1).split(QStringLiteral(", "))) {
            QTest::newRow(qPrintable(flag)) << flag;
            ++rows;
        }
    }
    if (rows < 4)
        qFatal("the help's option column was not found");
}

void TestPackage::manualListsEveryOptionOfHelp()
{
    QFETCH(QString, option);
    // Each option is the heading of a tagged paragraph: the line after a ".TP".
    QString manual = read(QUORVEL_MANUAL);
    manual.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression heading(QStringLiteral("^\\.TP\\n(.*)$"),
                                            QRegularExpression::MultilineOption);
    QStringList headings;
    for (const auto &match : heading.globalMatch(manual))
        headings << match.captured(1);
    const QRegularExpression flag(QStringLiteral("(^|[\\s\"])") + QRegularExpression::escape(option)
                                  + QStringLiteral("($|[\\s\",])"));
    QVERIFY2(!headings.filter(flag).isEmpty(),
             qPrintable(option + QStringLiteral(" is not in the manual")));
}

void TestPackage::installedFilesNameThisVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString version = QStringLiteral(QUORVEL_VERSION);
    QTest::newRow("metainfo release") << read(QUORVEL_METAINFO)
                                      << QStringLiteral("<release version=\"%1\"").arg(version);
    QTest::newRow("manual title") << read(QUORVEL_MANUAL)
                                  << QStringLiteral("\"Quorvel %1\"").arg(version);
}

void TestPackage::installedFilesNameThisVersion()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" is missing")));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
