#include "bridgemessage.h"

#include <algorithm>
#include <QJsonArray>

#include <cmath>
#include <limits>

namespace quorvel::preview {

namespace {

// The page's numbers arrive as JSON doubles; an integer is one without a fractional part.
std::optional<int> integer(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(number);
}

// A count or an offset: an integer from 0 up to what a double holds exactly.
std::optional<qint64> count(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < 0 || number > 9007199254740992.0)
        return std::nullopt;
    return qint64(number);
}

std::optional<QString> string(const QJsonObject &body, const QString &key)
{
    const QJsonValue value = body.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

QString stringOrEmpty(const QJsonObject &body, const QString &key)
{
    return string(body, key).value_or(QString());
}

std::optional<QStringList> strings(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue &element : value.toArray()) {
        if (!element.isString())
            return std::nullopt;
        list.append(element.toString());
    }
    return list;
}

// Items lacking a key or holding another type are skipped; a list with any element that is not
// an object counts as empty.
core::Outline outlineItems(const QJsonValue &value)
{
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return {};
    }
    core::Outline items;
    for (const QJsonValue &element : array) {
        const QJsonObject object = element.toObject();
        const auto level = integer(object.value(QStringLiteral("level")));
        const auto text = string(object, QStringLiteral("text"));
        const auto id = string(object, QStringLiteral("id"));
        if (level && text && id)
            items.append({*level, *text, *id});
    }
    return items;
}

std::optional<BridgeMessage> decodeTask(const QJsonObject &body)
{
    const auto index = integer(body.value(QStringLiteral("index")));
    const QJsonValue checked = body.value(QStringLiteral("checked"));
    if (!index || !checked.isBool())
        return std::nullopt;
    return message::Task{*index, checked.toBool()};
}

} // namespace

std::optional<message::Edit> decodeEdit(const QJsonObject &body)
{
    const auto base = count(body.value(QStringLiteral("base")));
    const auto start = count(body.value(QStringLiteral("start")));
    const auto removed = count(body.value(QStringLiteral("removed")));
    const auto length = count(body.value(QStringLiteral("length")));
    const auto inserted = string(body, QStringLiteral("inserted"));
    if (!base || !start || !removed || !length || !inserted)
        return std::nullopt;
    return message::Edit{*base, *start, *removed, *length, *inserted};
}

std::optional<QString> messageType(const QJsonObject &body)
{
    return string(body, QStringLiteral("type"));
}

std::optional<BridgeMessage> decodeMessage(const QJsonObject &body)
{
    const auto type = messageType(body);
    if (!type)
        return std::nullopt;
    if (type == u"ready")
        return message::Ready{};
    if (type == u"edit") {
        if (auto edit = decodeEdit(body))
            return *edit;
        return std::nullopt;
    }
    if (type == u"undo")
        return message::Undo{};
    if (type == u"redo")
        return message::Redo{};
    if (type == u"pasteImage") {
        if (auto data = string(body, QStringLiteral("data")))
            return message::PasteImage{*data};
        return std::nullopt;
    }
    if (type == u"outline")
        return message::Outline{outlineItems(body.value(QStringLiteral("items")))};
    if (type == u"link")
        return message::Link{stringOrEmpty(body, QStringLiteral("href")),
                             stringOrEmpty(body, QStringLiteral("written"))};
    if (type == u"wikilink")
        return message::Wikilink{stringOrEmpty(body, QStringLiteral("target")),
                                 stringOrEmpty(body, QStringLiteral("heading"))};
    if (type == u"contextmenu")
        return message::ContextMenu{stringOrEmpty(body, QStringLiteral("link"))};
    if (type == u"resolve") {
        if (auto targets = strings(body.value(QStringLiteral("targets"))))
            return message::Resolve{*targets};
        return std::nullopt;
    }
    if (type == u"task")
        return decodeTask(body);
    if (type == u"find")
        return message::Find{integer(body.value(QStringLiteral("count"))).value_or(0),
                             integer(body.value(QStringLiteral("index"))).value_or(0)};
    if (type == u"rendered")
        return message::Rendered{};
    if (type == u"drawn")
        return message::Drawn{};
    if (type == u"scroll") {
        const QJsonValue fraction = body.value(QStringLiteral("fraction"));
        if (!fraction.isDouble())
            return std::nullopt;
        return message::Scroll{std::clamp(fraction.toDouble(), 0.0, 1.0)};
    }
    return std::nullopt;
}

} // namespace quorvel::preview
