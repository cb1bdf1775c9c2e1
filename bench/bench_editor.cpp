// How long a keystroke takes in the source editor on large documents. See README.md.

#include "modelharness.h"

#include "editor/editorcontroller.h"
#include "editor/markdownhighlighter.h"
#include "editor/markdowntextview.h"
#include "editor/spellchecker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel::editor;

namespace {

constexpr int kKeys = 15;

QByteArray markdown(qsizetype size)
{
    QByteArray text;
    text.reserve(size + 200);
    for (int i = 0; text.size() < size; ++i) {
        if (i % 40 == 0)
            text += "## Section " + QByteArray::number(i) + "\n\n";
        text += "Some *emphasis*, a [link](https://example.com/" + QByteArray::number(i)
            + ") and `code` in paragraph " + QByteArray::number(i) + ".\n\n";
    }
    return text;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures
{
    double load = 0, model = 0, painted = 0, spelling = 0;
};

Figures typeInto(const QByteArray &content, QPlainTextEdit::LineWrapMode wrap,
                 SpellChecker *spelling = nullptr)
{
    Harness h(content);
    MarkdownTextView view;
    view.setSpellChecker(spelling);
    view.setLineWrapMode(wrap);
    view.resize(900, 900);
    view.show();
    QElapsedTimer load;
    load.start();
    EditorController controller(*h.model, view);
    // A large note is filled in from the event loop; the load ends with its last slice.
    while (!controller.isFilled())
        QCoreApplication::processEvents();
    view.repaint();
    Figures figures;
    figures.load = load.nsecsElapsed() / 1e6;
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(view.document()->characterCount() / 2);
    view.setTextCursor(cursor);
    view.setFocus();
    QCoreApplication::processEvents();
    std::vector<double> toModel, toPaint;
    for (int i = 0; i < kKeys; ++i) {
        const qsizetype before = h.text->size();
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(&view, 'x');
        if (h.text->size() != before + 1)
            qFatal("the keystroke did not reach the model");
        toModel.push_back(timer.nsecsElapsed() / 1e6);
        view.viewport()->repaint();
        toPaint.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    figures.model = median(toModel);
    figures.painted = median(toPaint);
    if (spelling) {
        // The marks come a moment after the typing stops, for the lines on screen.
        QElapsedTimer check;
        check.start();
        view.checkSpelling();
        figures.spelling = check.nsecsElapsed() / 1e6;
    }
    return figures;
}

// Twenty keys typed in the middle of the text, each painted, then a save: the figure a user
// waits through on a note that is one long line.
double keysAndSave(const QByteArray &content, QPlainTextEdit::LineWrapMode wrap)
{
    Harness h(content);
    MarkdownTextView view;
    view.setLineWrapMode(wrap);
    view.resize(900, 900);
    view.show();
    EditorController controller(*h.model, view);
    controller.finishFilling();
    view.repaint();
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(view.document()->characterCount() / 2);
    view.setTextCursor(cursor);
    view.setFocus();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(&view, 'x');
        view.viewport()->repaint();
        QCoreApplication::processEvents();
    }
    if (!h.document->saveDocument())
        qFatal("the save failed");
    return timer.nsecsElapsed() / 1e6;
}

struct Gaps
{
    double longest = 0, total = 0;
};

// The longest the event loop is held while a large note goes into the editor: a timer at 0 ms
// notes the time between its turns. `atOnce` finishes the filling as the window does once the
// page has drawn its first screen; otherwise the controller fills from the event loop.
Gaps fillGaps(const QByteArray &content, bool atOnce)
{
    Harness h(content);
    MarkdownTextView view;
    view.resize(900, 900);
    view.show();
    QCoreApplication::processEvents();
    Gaps gaps;
    QElapsedTimer total;
    total.start();
    QElapsedTimer since;
    since.start();
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        gaps.longest = std::max(gaps.longest, since.nsecsElapsed() / 1e6);
        since.restart();
    });
    tick.start();
    since.restart();
    EditorController controller(*h.model, view);
    if (atOnce)
        QTimer::singleShot(0, &controller, &EditorController::finishFilling);
    while (!controller.isFilled())
        QCoreApplication::processEvents();
    // Until it is on screen.
    QCoreApplication::processEvents();
    view.repaint();
    QCoreApplication::processEvents();
    gaps.longest = std::max(gaps.longest, since.nsecsElapsed() / 1e6);
    gaps.total = total.nsecsElapsed() / 1e6;
    return gaps;
}

void report(const char *what, const Figures &f, double modelTarget, double paintTarget)
{
    std::printf("%-44s load %8.1f ms   key->model %7.2f ms (target %g)   key->painted %7.2f ms "
                "(target %g)\n",
                what, f.load, f.model, modelTarget, f.painted, paintTarget);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("highlighting cutoff: %d characters\n", MarkdownHighlighter::kMaxCharacters);
    for (qsizetype size : {qsizetype(1'000'000), qsizetype(1'900'000), qsizetype(5'000'000)}) {
        const QByteArray text = markdown(size);
        const QByteArray name = QByteArray::number(size / 1e6, 'g', 2) + " MB Markdown, "
            + (text.size() <= MarkdownHighlighter::kMaxCharacters ? "coloured" : "not coloured");
        report(name.constData(), typeInto(text, QPlainTextEdit::WidgetWidth), 5, 16);
    }
    QByteArray line;
    while (line.size() < 1'000'000)
        line += "words in one long paragraph, ";
    report("1 MB single line, wrapped", typeInto(line, QPlainTextEdit::WidgetWidth), 50, 50);
    report("1 MB single line, not wrapped", typeInto(line, QPlainTextEdit::NoWrap), 50, 50);
    report("10 MB single line, wrapped", typeInto(line.repeated(10), QPlainTextEdit::WidgetWidth),
           50, 50);
    std::printf("%-44s %8.1f ms (target 1000)\n", "1 MB single line, 20 keys and a save",
                keysAndSave(line, QPlainTextEdit::WidgetWidth));
    std::fflush(stdout);
    for (const bool lines : {true, false}) {
        const QByteArray big = lines ? markdown(10'000'000) : line.repeated(10);
        for (const bool atOnce : {false, true}) {
            const Gaps gaps = fillGaps(big, atOnce);
            std::printf("10 MB %-14s filled %-17s longest hold %7.1f ms (target 100), all in %7.1f ms\n",
                        lines ? "Markdown," : "single line,", atOnce ? "at once:" : "in slices:",
                        gaps.longest, gaps.total);
            std::fflush(stdout);
        }
    }
    QTemporaryDir words;
    if (const auto checker = SpellChecker::load(QStringLiteral("en_US"),
                                                words.filePath(QStringLiteral("words.txt")))) {
        const Figures f = typeInto(markdown(1'000'000), QPlainTextEdit::WidgetWidth, checker.get());
        report("1 MB Markdown, coloured, spelling on", f, 5, 16);
        std::printf("  the spelling pass over the lines on screen, after the typing stops: %.2f ms\n",
                    f.spelling);
    }
    return 0;
}
