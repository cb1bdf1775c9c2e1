#pragma once

#include "core/outlineitem.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace quorvel::preview {

// The messages the page posts on "bridge", decoded: each key with its type and its default.
namespace message {
struct Ready {};
// An edit typed into the page, made from the text of revision `base`, `length` characters long.
struct Edit { qint64 base = 0; qint64 start = 0; qint64 removed = 0; qint64 length = 0; QString inserted; };
struct Undo {};
struct Redo {};
struct PasteImage { QString data; };
struct Outline { core::Outline items; };
struct Link { QString href; QString written; };
struct Wikilink { QString target; QString heading; };
struct ContextMenu { QString link; };
struct Resolve { QStringList targets; };
struct Task { int index = 0; bool checked = false; };
struct Find { int count = 0; int index = 0; };
struct Rendered {};
struct Drawn {};
struct Scroll { double fraction = 0; };
} // namespace message

using BridgeMessage = std::variant<message::Ready, message::Edit, message::Undo, message::Redo,
                                   message::PasteImage,
                                   message::Outline, message::Link, message::Wikilink,
                                   message::ContextMenu, message::Resolve, message::Task,
                                   message::Find, message::Rendered, message::Drawn, message::Scroll>;

// An "edit" message's body (also what the page's flushEdit() answers), decoded.
std::optional<message::Edit> decodeEdit(const QJsonObject &body);
// The message's "type", when it holds a string.
std::optional<QString> messageType(const QJsonObject &body);

// Nothing for a body without a string "type", of a type we do not know (compared exactly,
// letter case included), or missing a required key or holding it with another type.
std::optional<BridgeMessage> decodeMessage(const QJsonObject &body);

} // namespace quorvel::preview
