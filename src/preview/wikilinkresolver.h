#pragma once

#include <QString>
#include <QStringList>

namespace quorvel::preview {

// Answers the page's "resolve" message: JSON object text mapping each target (once) to the
// file URL it names, or null, as the document's vault index resolves it. Runs on a worker thread,
// so it touches nothing but the file system and the index, which is safe to share.
QString resolveWikilinkTargets(const QStringList &targets, const QString &documentPath);

} // namespace quorvel::preview
