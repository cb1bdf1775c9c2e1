#include "wikilinkresolver.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace quorvel::preview {

namespace {

QJsonValue resolveOne(const QString &target, const QString &folder)
{
    if (target.isEmpty() || target.contains(u'/') || target.contains(u'\\'))
        return QJsonValue::Null;
    QString name = target;
    if (!name.endsWith(QStringLiteral(".md"), Qt::CaseInsensitive))
        name += QStringLiteral(".md");
    const QFileInfo file(folder + u'/' + name);
    if (!file.isFile())
        return QJsonValue::Null;
    return QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded);
}

} // namespace

QString resolveWikilinkTargets(const QStringList &targets, const QString &documentPath)
{
    const QString folder = QFileInfo(documentPath).absolutePath();
    QJsonObject resolved;
    for (const QString &target : targets) {
        if (!resolved.contains(target))
            resolved.insert(target, resolveOne(target, folder));
    }
    return QString::fromUtf8(QJsonDocument(resolved).toJson(QJsonDocument::Compact));
}

} // namespace quorvel::preview
