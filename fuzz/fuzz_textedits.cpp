// Edits from several views on one text: the text (UTF-8, up to the first NUL), then edits of
// four bytes each: who made it and where (one byte), how much it removes, and one of a few
// insertions. Every property the views rely on is checked after each edit.
#include "check.h"

#include "core/documenttext.h"

#include <cstdint>

using namespace quorvel::core;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\0');
    if (cut < 0)
        return 0;
    const QString original = QString::fromUtf8(input.left(cut));
    DocumentText text(original);
    static const QStringList pieces{u""_s, u"x"_s, u"\n"_s, u"\r\n"_s, u"\U0001F600"_s, u"ab c"_s};
    static const EditOrigin origins[] = {EditOrigin::SourceEditor, EditOrigin::Page,
                                         EditOrigin::Program, EditOrigin::Disk};
    QList<QString> texts{original};
    for (qsizetype at = cut + 1; at + 4 <= input.size(); at += 4) {
        const quint8 who = quint8(input[at]);
        const qsizetype start = quint8(input[at + 1]) * (text.size() + 1) / 256;
        const qsizetype removed = quint8(input[at + 2]) % (text.size() - start + 1);
        const QString inserted = pieces[quint8(input[at + 3]) % pieces.size()];
        const quint64 before = text.revision();
        const QString was = text.text();
        const TextEdit edit{start, removed, inserted};
        const bool changed = QStringView(was).mid(start, removed) != inserted;
        FUZZ_CHECK(text.apply(edit, origins[who % 4]) == changed, "an edit applies when it changes");
        if (!changed)
            continue;
        texts.append(text.text());
        FUZZ_CHECK(text.revision() == before + 1, "one edit, one revision");
        // A view one revision or more behind is told one span that brings it up to date.
        for (const qsizetype back : {qsizetype(1), texts.size() - 1}) {
            if (const auto change = text.changeSince(text.revision() - quint64(back))) {
                QString old = texts[texts.size() - 1 - back];
                FUZZ_CHECK(old.replace(change->start, change->removed, change->inserted) == text.text(),
                           "the span since a revision gives the text");
            }
        }
        // Typed at the end of the text before this edit, a character still lands at the end.
        const auto moved = text.rebase({was.size(), 0, u"!"_s}, before);
        FUZZ_CHECK(moved && moved->start == text.size(), "an edit made earlier keeps its place");
    }
    // Undo takes every step back to the text as opened; redo brings them all again.
    const QString last = text.text();
    int steps = 0;
    while (text.undo())
        ++steps;
    FUZZ_CHECK(text.text() == original || steps >= 1000, "undo goes back to the start");
    while (text.redo())
        ;
    FUZZ_CHECK(text.text() == last, "redo comes back to the end");
    return 0;
}
