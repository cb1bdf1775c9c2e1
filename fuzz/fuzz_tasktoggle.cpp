// A checkbox clicked on the page: the first byte is the task's number as the page counts (signed),
// the second whether it is now ticked, the rest the document's text in UTF-8.
#include "check.h"

#include "core/documentmodel.h"
#include "core/documenttext.h"
#include "core/manualscheduler.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QTemporaryDir>

#include <cstdint>

using namespace quorvel;

namespace {

struct Fixture
{
    QTemporaryDir dir;
    themes::SettingsStore store{dir.filePath(QStringLiteral("settings.conf"))};
    themes::Appearance appearance{store};
    themes::FileThemes fileThemes{store};
    core::ManualScheduler clock;
    core::DocumentModel model{{clock, store, appearance, fileThemes}};
    int writes = 0;

    Fixture()
    {
        QObject::connect(&model.text(), &core::DocumentText::edited, &model.text(),
                         [this] { ++writes; });
    }

    QString toggled(const QString &from, int index, bool checked)
    {
        model.text().replaceAll(from, core::EditOrigin::Disk);
        writes = 0;
        model.toggleTask(index, checked);
        const QString &text = model.text().text();
        FUZZ_CHECK(writes <= 1 && (writes == 1) == (text != from), "written once, when changed");
        return text;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Fixture fixture;
    if (size < 2)
        return 0;
    const int index = std::int8_t(data[0]);
    const bool checked = data[1] & 1;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));

    const QString once = fixture.toggled(text, index, checked);
    FUZZ_CHECK(once.size() == text.size(), "a toggle changes no length");
    qsizetype changed = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (once[i] == text[i])
            continue;
        FUZZ_CHECK(changed < 0, "one character at most changes");
        changed = i;
    }
    if (changed >= 0) {
        FUZZ_CHECK(index >= 0, "no task has a negative number");
        FUZZ_CHECK(text[changed] == u' ' || text[changed] == u'x' || text[changed] == u'X',
                   "only a box's mark changes");
        FUZZ_CHECK(once[changed] == (checked ? u'x' : u' '), "the mark says what was clicked");
        FUZZ_CHECK(changed > 0 && text[changed - 1] == u'[' && changed + 1 < text.size()
                       && text[changed + 1] == u']',
                   "the mark is inside brackets");
    }
    // The same task keeps its number: clicking it again changes nothing more, and clicking it
    // back undoes the click unless the box held an upper-case X.
    FUZZ_CHECK(fixture.toggled(once, index, checked) == once, "a second click is no change");
    if (changed >= 0 && text[changed] != u'X')
        FUZZ_CHECK(fixture.toggled(once, index, !checked) == text, "clicking back restores");
    return 0;
}
