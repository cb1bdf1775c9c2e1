// Types ever newer versions of a note into a model wired like a window's and lets its autosave
// write each one, until it is killed; tst_crash checks what every kill leaves on disk.
#include "crashversions.h"

#include "core/manualscheduler.h"
#include "core/documentmodel.h"
#include "core/markdowndocument.h"
#include "core/platformdocument.h"
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
    auto opened = core::MarkdownDocument::open(path);
    if (!opened)
        return 3;
    core::PlatformDocument document(std::move(opened).value(), path);
    QObject window;
    core::DocumentModel model({clock, store, appearance, fileThemes});
    model.setWindow(&window);
    model.setPlatformDocument(&document);
    model.setFileURL(QUrl::fromLocalFile(path));
    model.getText = [&document] { return document.content().text(); };
    model.setText = [&](const QString &text) {
        document.content().setText(text);
        document.updateChangeCount(core::PlatformDocument::Change::Done);
        model.scheduleAutosave();
    };
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (int version = std::atoi(argv[3]);; ++version) {
        model.setText(QString::fromLatin1(crashVersion(version)));
        clock.advance(1s);
        if (document.isDocumentEdited())
            return 4;
    }
}
