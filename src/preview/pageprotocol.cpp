#include "pageprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QVariantMap>

#include <algorithm>
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

// A number the engine hands over from a script's result.
int integerOrZero(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !value.isValid() || value.typeId() == QMetaType::QString
        || value.typeId() == QMetaType::Bool || std::trunc(number) != number)
        return 0;
    return int(number);
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
    if (type == u"outline") {
        message::Outline outline{outlineItems(body.value(QStringLiteral("items"))), std::nullopt};
        if (body.contains(QStringLiteral("from"))) {
            // A part that does not say where it goes is asked for again whole, never guessed.
            const auto from = integer(body.value(QStringLiteral("from")));
            const auto removed = integer(body.value(QStringLiteral("removed")));
            const auto before = integer(body.value(QStringLiteral("before")));
            outline.splice = message::OutlineSplice{};
            if (from && removed && before)
                outline.splice = message::OutlineSplice{*from, *removed, *before};
        }
        return outline;
    }
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

std::optional<message::Edit> decodeFlushedEdit(const QVariant &answer)
{
    if (answer.typeId() != QMetaType::QString)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(answer.toString().toUtf8());
    if (!document.isObject())
        return std::nullopt;
    return decodeEdit(document.object());
}

message::Find decodeFindAnswer(const QVariant &answer)
{
    if (answer.typeId() != QMetaType::QVariantMap)
        return {};
    const QVariantMap map = answer.toMap();
    return {integerOrZero(map.value(QStringLiteral("count"))),
            integerOrZero(map.value(QStringLiteral("index")))};
}

namespace pagecommand {

namespace {

QString boolean(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

QString json(const QString &text)
{
    // Written as Qt's JSON writer writes it, but in one pass into one buffer: the writer goes
    // through UTF-8 and back, which for a 10 MB note kept the window waiting 0.4 s.
    const auto shortEscape = [](char16_t c) -> char16_t {
        switch (c) {
        case u'"':
            return u'"';
        case u'\\':
            return u'\\';
        case u'\b':
            return u'b';
        case u'\f':
            return u'f';
        case u'\n':
            return u'n';
        case u'\r':
            return u'r';
        case u'\t':
            return u't';
        default:
            return 0;
        }
    };
    const auto pairAt = [](const char16_t *in, qsizetype i, qsizetype n) {
        return QChar::isHighSurrogate(in[i]) && i + 1 < n && QChar::isLowSurrogate(in[i + 1]);
    };
    const auto *in = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype n = text.size();
    qsizetype size = n + 2;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (c < 0x20 || c == u'"' || c == u'\\')
            size += shortEscape(c) ? 1 : 5;
        else if (QChar::isSurrogate(c) && pairAt(in, i, n))
            ++i;
        else if (QChar::isSurrogate(c))
            size += 5; // half a pair goes as a number, which JSON can carry
    }
    QString literal(size, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(literal.data());
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    const auto escapeAsNumber = [&](char16_t c) {
        *out++ = u'\\';
        *out++ = u'u';
        for (int shift = 12; shift >= 0; shift -= 4)
            *out++ = kHex[(c >> shift) & 0xf];
    };
    *out++ = u'"';
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (c < 0x20 || c == u'"' || c == u'\\') {
            if (const char16_t letter = shortEscape(c)) {
                *out++ = u'\\';
                *out++ = letter;
            } else {
                escapeAsNumber(c);
            }
        } else if (QChar::isSurrogate(c) && !pairAt(in, i, n)) {
            escapeAsNumber(c);
        } else if (QChar::isSurrogate(c)) {
            *out++ = c;
            *out++ = in[++i];
        } else {
            *out++ = c;
        }
    }
    *out = u'"';
    return literal;
}

QString render(const QString &text, const QString &dir, qint64 version)
{
    return QStringLiteral("quorvel.render(") + json(text) + QStringLiteral(", ") + json(dir)
        + QStringLiteral(", ") + QString::number(version) + u')';
}

QString update(const core::TextEdit &change, quint64 base, quint64 version, qsizetype length)
{
    using namespace Qt::StringLiterals;
    const QJsonObject object{{u"base"_s, double(base)},
                             {u"version"_s, double(version)},
                             {u"start"_s, change.start},
                             {u"removed"_s, change.removed},
                             {u"length"_s, length},
                             {u"inserted"_s, change.inserted}};
    return QStringLiteral("quorvel.update(")
        + QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u')';
}

QString setTheme(const QString &payload)
{
    return QStringLiteral("quorvel.setTheme(") + payload + u')';
}

QString setEditable(bool editable, std::optional<qsizetype> caret)
{
    return QStringLiteral("quorvel.setEditable(") + boolean(editable)
        + (caret ? QStringLiteral(", %1").arg(*caret) : QString()) + u')';
}

QString cancelEdit()
{
    return QStringLiteral("quorvel.cancelEdit()");
}

QString placeCaret(qsizetype offset)
{
    return QStringLiteral("quorvel.placeCaret(%1)").arg(offset);
}

QString format(const QString &key)
{
    return QStringLiteral("quorvel.format(") + json(key) + u')';
}

QString pastePlain(const QString &text)
{
    return QStringLiteral("quorvel.pastePlain(") + json(text) + u')';
}

QString undo(bool redo)
{
    return redo ? QStringLiteral("quorvel.redo()") : QStringLiteral("quorvel.undo()");
}

QString insertImage(const QString &path)
{
    return QStringLiteral("quorvel.insertImage(") + json(path) + u')';
}

QString find(const QString &query, core::FindOptions options)
{
    const auto flag = [](bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("quorvel.find(") + json(query)
        + QStringLiteral(", {matchCase: %1, wholeWord: %2, regex: %3})")
              .arg(flag(options.matchCase), flag(options.wholeWord),
                   flag(options.regularExpression));
}

QString findStep(int step)
{
    return QStringLiteral("quorvel.findStep(%1)").arg(step);
}

QString findClear()
{
    return QStringLiteral("quorvel.findClear()");
}

QString scrollToFraction(double fraction)
{
    return QStringLiteral("quorvel.scrollToFraction(")
        + QString::number(fraction, 'g', QLocale::FloatingPointShortest) + u')';
}

QString scrollToHeading(const QString &id)
{
    return QStringLiteral("quorvel.scrollToHeading(") + json(id) + u')';
}

QString scrollToHeadingText(const QString &text, bool instant)
{
    return QStringLiteral("quorvel.scrollToHeadingText(") + json(text) + QStringLiteral(", ")
        + boolean(instant) + u')';
}

QString reportDrawn(bool now, bool laidOut)
{
    return QStringLiteral("quorvel.reportDrawn(%1, %2)").arg(boolean(now), boolean(laidOut));
}

QString resolved(const QString &answer)
{
    return QStringLiteral("quorvel.resolved(") + answer + u')';
}

QString exportImages()
{
    return QStringLiteral("quorvel.exportImages()");
}

QString exportFiles()
{
    return QStringLiteral("quorvel.exportFiles()");
}

QString exportHTML(const QString &title, const QString &css, const QJsonObject &images,
                   const QString &base, const QStringList &present)
{
    const QJsonObject options{{QStringLiteral("images"), images},
                              {QStringLiteral("base"), base},
                              {QStringLiteral("present"), QJsonArray::fromStringList(present)}};
    return QStringLiteral("quorvel.exportHTML(") + json(title) + QStringLiteral(", ") + json(css)
        + QStringLiteral(", ")
        + QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact)) + u')';
}

QString serialize()
{
    return QStringLiteral("quorvel.serialize()");
}

QString editContextLink()
{
    return QStringLiteral("quorvel.editContextLink()");
}

QString openContextLink()
{
    return QStringLiteral("quorvel.openContextLink()");
}

QString unlinkContextLink()
{
    return QStringLiteral("quorvel.unlinkContextLink()");
}

} // namespace pagecommand

} // namespace quorvel::preview
