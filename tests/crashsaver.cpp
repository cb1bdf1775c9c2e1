// Types ever newer versions of a note into a model wired like a window's and lets its autosave
// write each one, until it is killed; tst_crash checks what every kill leaves on disk.
#include "crashversions.h"

#include "core/manualscheduler.h"
#include "core/documentmodel.h"
#include "core/documenttext.h"
#include "core/documentsession.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdio>

using namespace quorvel;
using namespace std::chrono_literals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    themes::SettingsStore store(QString::fromLocal8Bit(argv[2]));
    themes::Appearance appearance(store);
    themes::FileThemes fileThemes(store);
    core::ManualScheduler clock;
    auto opened = core::DocumentText::open(path);
    if (!opened)
        return 3;
    core::DocumentSession session(std::move(opened).value(), path,
                                  {clock, store, appearance, fileThemes});
    QObject window;
    session.model().setWindow(&window);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (int version = std::atoi(argv[3]);; ++version) {
        session.text().replaceAll(QString::fromLatin1(crashVersion(version)),
                                  core::EditOrigin::SourceEditor);
        clock.advance(1s);
        if (session.file().isDocumentEdited())
            return 4;
    }
}
