#pragma once

#include "testsupport.h"

#include "core/documentviews.h"
#include "core/documentmodel.h"
#include "core/documentsession.h"

using namespace quorvel::core;


struct PreviewCalls
{
    int flushes = 0;
    int reloads = 0;
    QList<double> fractions;
    QStringList headings; // scrolled to, "!" before an instant scroll
    QStringList finds;    // "find:<query>", "step:<n>", "clear", "focus"
    int findCount = 0;    // what each find and step answers
    int findIndex = 0;
};

class FakePreview : public DocumentPreview
{
public:
    explicit FakePreview(PreviewCalls &calls)
        : m_calls(calls)
    {
    }
    void flushEdits() override { ++m_calls.flushes; }
    void prepareForReload() override { ++m_calls.reloads; }
    void scrollToFraction(double fraction) override { m_calls.fractions << fraction; }
    void scrollToHeadingText(const QString &text, bool instant) override
    {
        m_calls.headings << (instant ? u'!' + text : text);
    }
    void find(const QString &query, FindOptions options, FindCompletion completion) override
    {
        // The options are written only when set, as "find:<query>/cwr".
        QString set;
        for (auto [on, letter] : {std::pair(options.matchCase, u'c'),
                                  std::pair(options.wholeWord, u'w'),
                                  std::pair(options.regularExpression, u'r')}) {
            if (on)
                set += QChar(letter);
        }
        m_calls.finds << QStringLiteral("find:") + query + (set.isEmpty() ? QString() : u'/' + set);
        completion(m_calls.findCount, m_calls.findIndex);
    }
    void findStep(int step, FindCompletion completion) override
    {
        m_calls.finds << QStringLiteral("step:%1").arg(step);
        completion(m_calls.findCount, m_calls.findIndex);
    }
    void findClear() override { m_calls.finds << QStringLiteral("clear"); }
    void takeFocus() override { m_calls.finds << QStringLiteral("focus"); }

private:
    PreviewCalls &m_calls;
};

// Gives every model made while it lives a FakePreview recording into `calls`.
struct FakePreviewFactory
{
    PreviewCalls calls;
    FakePreviewFactory()
    {
        DocumentModel::setControllerFactory(
            {[this](DocumentModel &) { return std::make_unique<FakePreview>(calls); }, {}});
    }
    ~FakePreviewFactory() { DocumentModel::setControllerFactory({}); }
};

class FakePrompter : public DocumentPrompter
{
public:
    std::optional<QString> savePath;
    bool overwriteNewer = false;
    bool convert = false;
    int pathRequests = 0;
    int overwriteQuestions = 0;
    int conversionQuestions = 0;
    QStringList errors;

    std::optional<QString> askSavePath(const DocumentFile &) override
    {
        ++pathRequests;
        return savePath;
    }
    bool confirmOverwriteNewerFile(const DocumentFile &) override
    {
        ++overwriteQuestions;
        return overwriteNewer;
    }
    void reportSaveError(const DocumentFile &, const QString &message) override
    {
        errors << message;
    }
    bool confirmConvertToUtf8(const DocumentFile &) override
    {
        ++conversionQuestions;
        return convert;
    }
};

// A document's session as a window has it, without the window: the text, its file and the
// model, with a prompter that answers as the test says.
struct Harness
{
    std::unique_ptr<ScratchEnvironment> own;
    ScratchEnvironment &scratch;
    QObject window;
    FakePrompter prompter;
    std::unique_ptr<DocumentSession> session;
    DocumentText *text = nullptr;
    DocumentFile *document = nullptr;
    DocumentModel *model = nullptr;
    // Who made each edit of the text, in order.
    QList<EditOrigin> origins;

    explicit Harness(const QByteArray &initial = "start\n", bool titled = true)
        : Harness(nullptr, QStringLiteral("note.md"), initial, titled)
    {
    }

    Harness(ScratchEnvironment *shared, const QString &name, const QByteArray &initial,
            bool titled = true)
        : own(shared ? nullptr : std::make_unique<ScratchEnvironment>())
        , scratch(shared ? *shared : *own)
    {
        window.setProperty("visible", true);
        const QString path = titled ? scratch.write(name, initial) : QString();
        auto content = titled ? std::move(DocumentText::open(path)).value()
                              : std::make_unique<DocumentText>();
        session = std::make_unique<DocumentSession>(std::move(content), path, scratch.env());
        text = &session->text();
        document = &session->file();
        model = &session->model();
        document->setPrompter(&prompter);
        model->setWindow(&window);
        QObject::connect(text, &DocumentText::edited, text,
                         [this](const TextEdit &, EditOrigin origin) { origins.append(origin); });
    }
    ~Harness() { session.reset(); }

    // The user typed the whole text anew (in the source view, say).
    void setText(const QString &t, EditOrigin origin = EditOrigin::SourceEditor)
    {
        text->replaceAll(t, origin);
    }
    QString current() const { return text->text(); }
    QByteArray onDisk() const { return ScratchEnvironment::read(document->filePath()); }
};
