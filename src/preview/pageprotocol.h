#pragma once

#include "core/outlineitem.h"
#include "core/textedit.h"
#include "core/textsearch.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <variant>

// Both directions of the talk between the host and the page: the messages the page posts and
// its answers, decoded, and the scripts the host runs in it.
namespace quorvel::preview {

// The messages the page posts on "bridge", decoded: each key with its type and its default.
namespace message {
struct Ready {};
// An edit typed into the page, made from the text of revision `base`, `length` characters long.
struct Edit { qint64 base = 0; qint64 start = 0; qint64 removed = 0; qint64 length = 0; QString inserted; };
struct Undo {};
struct Redo {};
struct PasteImage { QString data; };
// The whole outline; or, with `splice`, the items that replace `removed` of them from `from`
// in the outline the page sent before, `before` items long (a long note's heading edit).
struct OutlineSplice { qsizetype from = -1; qsizetype removed = 0; qsizetype before = 0; };
struct Outline { core::Outline items; std::optional<OutlineSplice> splice; };
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

// The page's answer to pagecommand::kFlushEdit: its edit, nothing when it had none.
std::optional<message::Edit> decodeFlushedEdit(const QVariant &answer);
// The page's answer to a find: the count and the current match, 0 for anything unreadable.
message::Find decodeFindAnswer(const QVariant &answer);

// The scripts the host runs in the page: each a call on its `quorvel` object, the arguments
// written as JSON so that no text can end the call early.
namespace pagecommand {

// A string as a JSON string literal, quotes included.
QString json(const QString &text);

// The whole text, made from the note in `dir` (a folder URL, or empty), as revision `version`;
// -1 for a first screen sent ahead of the whole, which no change is ever made from.
QString render(const QString &text, const QString &dir, qint64 version);
// `change` turns revision `base`, as the page holds it, into `version`, `length` characters
// long. The page answers false when it holds another text.
QString update(const core::TextEdit &change, quint64 base, quint64 version, qsizetype length);
// `payload`: the theme's JSON as the appearance writes it.
QString setTheme(const QString &payload);
// `caret`: an offset of the text where typing goes on when the page takes it (coming from the
// source); without one, where it was on the page.
QString setEditable(bool editable, std::optional<qsizetype> caret = std::nullopt);
// The caret as an offset of the text, or null when it is in no block.
inline const QString kCaretOffset = QStringLiteral("quorvel.caretOffset()");
// The engine hands a script's string result over without a leading byte-order mark; the text
// of a file that starts with one must come back whole, so it travels as JSON.
inline const QString kFlushEdit = QStringLiteral("JSON.stringify(quorvel.flushEdit())");
QString cancelEdit();
// The page sends its whole outline again: a part of it did not fit the one the host holds.
inline const QString kOutlineAgain = QStringLiteral("quorvel.outlineAgain()");
QString placeCaret(qsizetype offset);
inline const QString kRecheckSpelling = QStringLiteral("quorvel.recheckSpelling()");
QString format(const QString &key);
QString insertImage(const QString &path);
// The text as typed at the caret, nothing in it read as markup.
QString pastePlain(const QString &text);
// The page sends its typing first, then asks for the undo (or redo) in a message.
QString undo(bool redo);

// Each answers {count, index}.
QString find(const QString &query, core::FindOptions options = {});
QString findStep(int step);
// Takes the highlights away.
QString findClear();

QString scrollToFraction(double fraction);
QString scrollToHeading(const QString &id);
QString scrollToHeadingText(const QString &text, bool instant);

// The page posts "drawn" once everything a render started is drawn.
QString reportDrawn(bool now, bool laidOut);
// `answer`: the JSON object resolveWikilinkTargets writes.
QString resolved(const QString &answer);

// Answers the local image addresses the page shows.
QString exportImages();
// Answers every local address the page holds, links as well as images.
QString exportFiles();
// Answers the page as one HTML file; `images` maps addresses to the data URLs that replace
// them, `base` is the folder URL other local addresses are made relative to, and `present`
// lists those that lead to a file that is there (the others are left out).
QString exportHTML(const QString &title, const QString &css, const QJsonObject &images,
                   const QString &base, const QStringList &present);
// Answers the text as the page would write it.
QString serialize();

// About the link the last "contextmenu" message was for.
QString editContextLink();
QString openContextLink();
QString unlinkContextLink();

} // namespace pagecommand

} // namespace quorvel::preview
