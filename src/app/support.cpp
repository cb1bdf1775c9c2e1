#include "support.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrlQuery>

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION ""
#endif
#ifndef QUORVEL_BUILD
#define QUORVEL_BUILD ""
#endif
// A packager can point the program at a mirror without touching the code.
#ifndef QUORVEL_SITE
#define QUORVEL_SITE "https://quorvel.org"
#endif

namespace quorvel::app::support {

namespace {

// The build number is only known when the program was configured from a clone.
QVariant compiledIn(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QString partOrUnknown(const QVariant &value)
{
    return value.typeId() == QMetaType::QString ? value.toString() : QStringLiteral("?");
}

// The first two or three numbers of a version such as "24.04", "12" or "6.1.0-13-amd64",
// padded with zeros; empty when it starts with no number at all.
QString threeNumbers(const QString &version)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = leading.match(version);
    if (!match.hasMatch())
        return {};
    QStringList parts;
    for (int i = 1; i <= 3; ++i)
        parts << QString::number(match.captured(i).isEmpty() ? 0 : match.captured(i).toULongLong());
    return parts.join(u'.');
}

} // namespace

QString siteBase()
{
    return QStringLiteral(QUORVEL_SITE);
}

QString versionLabel(const QVariant &release, const QVariant &build)
{
    return QCoreApplication::translate("quorvel::app::support", "Version %1 (%2)")
        .arg(partOrUnknown(release), partOrUnknown(build));
}

QString versionLabel()
{
    return versionLabel(compiledIn(QUORVEL_VERSION), compiledIn(QUORVEL_BUILD));
}

QString osVersion(const QString &productVersion, const QString &kernelVersion)
{
    // Rolling distributions report "unknown" or a date-less name: the kernel still tells
    // something useful about the machine.
    QString numbers = threeNumbers(productVersion);
    if (numbers.isEmpty())
        numbers = threeNumbers(kernelVersion);
    return numbers.isEmpty() ? QStringLiteral("0.0.0") : numbers;
}

QString osVersion()
{
    return osVersion(QSysInfo::productVersion(), QSysInfo::kernelVersion());
}

QUrl feedbackUrl(const QString &release, const QString &os)
{
    QUrl url(siteBase() + QStringLiteral("/quorvel/"));
    QUrlQuery query;
    // A null value would drop the "=", and the page expects every key with its sign.
    query.addQueryItem(QStringLiteral("from"), QStringLiteral("app"));
    query.addQueryItem(QStringLiteral("v"), release.isNull() ? QStringLiteral("") : release);
    query.addQueryItem(QStringLiteral("os"), os);
    url.setQuery(query);
    url.setFragment(QStringLiteral("feedback"));
    return url;
}

QUrl feedbackUrl()
{
    return feedbackUrl(QStringLiteral(QUORVEL_VERSION), osVersion());
}

QUrl supportUrl()
{
    static const QUrl url(siteBase() + QStringLiteral("/quorvel/support"));
    return url;
}

QUrl appcastUrl()
{
    return QUrl(siteBase() + QStringLiteral("/quorvel/appcast.xml"));
}

void openFeedback()
{
    QDesktopServices::openUrl(feedbackUrl());
}

void openSupport()
{
    QDesktopServices::openUrl(supportUrl());
}

} // namespace quorvel::app::support
