#pragma once

#include <QString>
#include <QStringList>

namespace quorvel::preview {

// Answers the page's "resolve" message: JSON object text mapping each target (once) to the
// file URL it names, or null. Runs on a worker thread, so it touches nothing but the file system.
// Until the vault index exists a target resolves only to a same-named .md file in the
// document's own folder.
QString resolveWikilinkTargets(const QStringList &targets, const QString &documentPath);

} // namespace quorvel::preview
