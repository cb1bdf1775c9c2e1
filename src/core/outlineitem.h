#pragma once

#include <QList>
#include <QString>

namespace quorvel::core {

// One heading of the document as the page reports it; `id` is its anchor and its identity.
struct OutlineItem
{
    int level = 1;
    QString text;
    QString id;

    bool operator==(const OutlineItem &) const = default;
};

using Outline = QList<OutlineItem>;

} // namespace quorvel::core
