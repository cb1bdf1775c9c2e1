// A message the page posts, as JSON text.
#include "check.h"

#include "preview/pageprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdint>

using namespace quorvel::preview;

namespace {

// The message written back as the page would post it.
QJsonObject encoded(const BridgeMessage &message)
{
    struct Encoder
    {
        QJsonObject operator()(const message::Ready &) { return {{"type", "ready"}}; }
        QJsonObject operator()(const message::Edit &m)
        {
            return {{"type", "edit"}, {"base", double(m.base)}, {"start", double(m.start)},
                    {"removed", double(m.removed)}, {"inserted", m.inserted},
                    {"length", double(m.length)}};
        }
        QJsonObject operator()(const message::Undo &) { return {{"type", "undo"}}; }
        QJsonObject operator()(const message::Redo &) { return {{"type", "redo"}}; }
        QJsonObject operator()(const message::PasteImage &m) { return {{"type", "pasteImage"}, {"data", m.data}}; }
        QJsonObject operator()(const message::Outline &m)
        {
            QJsonArray items;
            for (const auto &item : m.items)
                items.append(QJsonObject{{"level", item.level}, {"text", item.text}, {"id", item.id}});
            return {{"type", "outline"}, {"items", items}};
        }
        QJsonObject operator()(const message::Link &m) { return {{"type", "link"}, {"href", m.href}, {"written", m.written}}; }
        QJsonObject operator()(const message::Wikilink &m) { return {{"type", "wikilink"}, {"target", m.target}, {"heading", m.heading}}; }
        QJsonObject operator()(const message::ContextMenu &m) { return {{"type", "contextmenu"}, {"link", m.link}}; }
        QJsonObject operator()(const message::Resolve &m) { return {{"type", "resolve"}, {"targets", QJsonArray::fromStringList(m.targets)}}; }
        QJsonObject operator()(const message::Task &m) { return {{"type", "task"}, {"index", m.index}, {"checked", m.checked}}; }
        QJsonObject operator()(const message::Find &m) { return {{"type", "find"}, {"count", m.count}, {"index", m.index}}; }
        QJsonObject operator()(const message::Rendered &) { return {{"type", "rendered"}}; }
        QJsonObject operator()(const message::Drawn &) { return {{"type", "drawn"}}; }
        QJsonObject operator()(const message::Scroll &m) { return {{"type", "scroll"}, {"fraction", m.fraction}}; }
    };
    return std::visit(Encoder{}, message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!document.isObject())
        return 0;
    const QJsonObject body = document.object();
    const auto message = decodeMessage(body);
    if (!message)
        return 0;
    FUZZ_CHECK(messageType(body).has_value(), "a decoded message has a type");
    if (const auto *scroll = std::get_if<message::Scroll>(&*message))
        FUZZ_CHECK(scroll->fraction >= 0 && scroll->fraction <= 1, "a scroll is a fraction");
    if (const auto *task = std::get_if<message::Task>(&*message))
        FUZZ_CHECK(body.value(QStringLiteral("index")).toDouble() == task->index,
                   "a task's index is the number sent");
    // What was decoded is all a message of its type says: written back and decoded again, it
    // is the same message.
    const QJsonObject once = encoded(*message);
    FUZZ_CHECK(once.value(QStringLiteral("type")) == body.value(QStringLiteral("type")),
               "the type is kept");
    const auto again = decodeMessage(once);
    FUZZ_CHECK(again && encoded(*again) == once, "decoding is stable");
    return 0;
}
