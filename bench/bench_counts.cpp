// How long the status bar's counts take on large notes. See README.md.

#include "app/statusbar.h"
#include "app/textcounts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quorvel::app;

namespace {

constexpr int kRuns = 7;

// Prose with the markup a note has: headings, emphasis, links, lists, a table, code.
QString markdown(qsizetype size, bool cjk)
{
    QString text;
    text.reserve(size + 400);
    for (int i = 0; text.size() < size; ++i) {
        if (i % 40 == 0)
            text += QStringLiteral("## Section %1\n\n").arg(i);
        if (cjk)
            text += QStringLiteral("\u65E5\u672C\u8A9E\u306E**\u6587\u7AE0**\u3068"
                                   "[\u30EA\u30F3\u30AF](https://example.com/%1)\u3002\n\n")
                        .arg(i);
        else
            text += QStringLiteral("Some *emphasis*, a [link](https://example.com/%1) and `code` "
                                   "in paragraph %1.\n\n- an item with ~~a strike~~\n- [ ] a "
                                   "task\n\n")
                        .arg(i);
        if (i % 25 == 0)
            text += QStringLiteral("| a | b |\n|---|---|\n| 1 | 2 |\n\n```cpp\nint x = %1;\n```\n\n")
                        .arg(i);
    }
    return text;
}

double medianMs(const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("counts over %lld UTF-16 units of Markdown are made off the main thread, "
                "%d ms after the last change\n",
                static_cast<long long>(StatusBar::kBackgroundThreshold), StatusBar::kRecountDelayMs);
    for (const bool cjk : {false, true}) {
        for (qsizetype size : {qsizetype(100'000), qsizetype(1'000'000), qsizetype(5'000'000)}) {
            const QString text = markdown(size, cjk);
            TextCounts counts;
            const double whole = medianMs([&] { counts = countMarkdown(text); });
            const QString visible = visibleText(text);
            const double plain = medianMs([&] { counts = countText(visible); });
            // A selection of the second half: the first is read for its context.
            const double half = medianMs([&] { countMarkdown(text, text.size() / 2, text.size()); });
            std::printf("%-26s whole note %7.1f ms (of which counting the visible text %6.1f ms)"
                        "   second half selected %7.1f ms   %d words, %d characters\n",
                        QByteArray(QByteArray::number(size / 1e6, 'g', 2) + " MB "
                                   + (cjk ? "CJK" : "Latin"))
                            .constData(),
                        whole, plain, half, counts.words, counts.characters);
            std::fflush(stdout);
        }
    }
    return 0;
}
