#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>

// The program's outward-facing addresses: the product site, the feedback and support pages and
// the update feed, and the version as shown to the user.
namespace quorvel::app::support {

// Scheme and host of the maker's site, without a trailing slash.
QString siteBase();

// "Version 0.4 (57)": the release, then the build in parentheses. Either part that is missing
// or not text shows as "?", so a build made outside a clone still says what it can.
QString versionLabel();
QString versionLabel(const QVariant &release, const QVariant &build);

// The running system's version as three numbers, "12.0.0": the distribution's version when it
// has one, else the kernel's.
QString osVersion();
QString osVersion(const QString &productVersion, const QString &kernelVersion);

// The product page with from=app, v=<release>, os=<system version> and the #feedback fragment;
// built on each use. `v` may be empty, but it is always there.
QUrl feedbackUrl();
QUrl feedbackUrl(const QString &release, const QString &os);

QUrl supportUrl();
// Where the update checker reads the list of releases.
QUrl appcastUrl();

// Both open in the default browser.
void openFeedback();
void openSupport();

} // namespace quorvel::app::support
