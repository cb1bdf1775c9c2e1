// An edit in the source view: the file's text (UTF-8, up to the first NUL), then where the edit
// starts and how much it replaces (two bytes), then what was typed.
#include "check.h"

#include "core/lineendings.h"

#include <cstdint>

using namespace quorvel::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\0');
    if (cut < 0 || input.size() < cut + 3)
        return 0;
    const QString text = QString::fromUtf8(input.left(cut));
    const QString before = toEditorText(text);
    const qsizetype start = before.isEmpty() ? 0 : quint8(input[cut + 1]) % (before.size() + 1);
    const qsizetype removed = quint8(input[cut + 2]) % (before.size() - start + 1);
    // What a text widget holds: its own line breaks only.
    const QString typed = toEditorText(QString::fromUtf8(input.mid(cut + 3)));
    const QString after = before.left(start) + typed + before.mid(start + removed);

    const QString merged = mergeEditorEdit(text, before, after);
    FUZZ_CHECK(toEditorText(merged) == after, "the file shows what the widget shows");
    if (after == before)
        FUZZ_CHECK(merged == text, "no edit, no change");
    const QString lineBreak = dominantLineBreak(text);
    FUZZ_CHECK(lineBreak == u"\n" || lineBreak == u"\r\n" || lineBreak == u"\r",
               "a line break is one of the three");
    return 0;
}
