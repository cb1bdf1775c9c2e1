#include "wikilinkresolver.h"

#include "vault/vaultindex.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace quorvel::preview {

QString resolveWikilinkTargets(const QStringList &targets, const QString &documentPath)
{
    vault::VaultIndex &index = vault::VaultIndex::index(documentPath);
    QJsonObject resolved;
    for (const QString &target : targets) {
        if (resolved.contains(target))
            continue;
        const std::optional<QString> path = index.resolve(target, documentPath);
        resolved.insert(target, path ? QJsonValue(QUrl::fromLocalFile(*path).toString(
                                           QUrl::FullyEncoded))
                                     : QJsonValue(QJsonValue::Null));
    }
    return QString::fromUtf8(QJsonDocument(resolved).toJson(QJsonDocument::Compact));
}

} // namespace quorvel::preview
