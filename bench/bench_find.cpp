// How fast the source view's find answers on a large note. See README.md.

#include "app/findbar.h"
#include "app/sourcefindbar.h"
#include "editor/markdowntextview.h"
#include "core/documenttext.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

using quorvel::app::SourceFindBar;

namespace {

constexpr int kRuns = 7;

// About 1 MB of prose in which "the" is as common as in English, in lines or as one line.
QString note(bool oneLine)
{
    const QString line = QStringLiteral(
        "The garden lies behind the house, and the beds along the wall get the morning sun.");
    const QString separator = oneLine ? QStringLiteral(" ") : QStringLiteral("\n");
    QString text;
    while (text.size() < 1'000'000)
        text += line + separator;
    return text;
}

template <typename F>
double medianMs(F &&run)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        run(i);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const bool oneLine : {false, true}) {
        QWidget window;
        auto *column = new QVBoxLayout(&window);
        auto *editor = new quorvel::editor::MarkdownTextView(&window);
        column->addWidget(editor);
        // No "\r\n": the editor's positions are the text's offsets.
        quorvel::core::DocumentText text(note(oneLine));
        SourceFindBar bar(editor, text, editor);
        window.resize(900, 900);
        editor->setPlainText(text.text());
        window.show();
        QApplication::processEvents();
        bar.perform(quorvel::core::DocumentModel::TextFinderAction::Show);
        std::printf("%s\n", oneLine ? "one line of 1 MB" : "1 MB in lines");

        // A query typed anew each run: every match counted, the screen's marked, the first
        // selected and scrolled to.
        const double search = medianMs([&](int i) {
            bar.setQuery(i % 2 ? QStringLiteral("the") : QStringLiteral("THE"));
        });
        std::printf("  search \"the\" in %lld characters: %d matches, %d marked, median %.1f ms "
                    "(target: 100 ms)\n",
                    static_cast<long long>(editor->document()->characterCount()), bar.count(),
                    bar.highlighted(), search);

        const double step = medianMs([&](int) { bar.step(1); });
        std::printf("  next match: median %.2f ms\n", step);

        const double scroll = medianMs([&](int i) {
            editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum()
                                                  * (i + 1) / (kRuns + 1));
            QApplication::processEvents();
        });
        std::printf("  scroll and mark the new screen: median %.2f ms\n", scroll);
    }
    return 0;
}
