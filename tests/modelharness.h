#pragma once

#include "testsupport.h"

#include "core/documentviews.h"
#include "core/documentmodel.h"
#include "core/markdowndocument.h"
#include "core/platformdocument.h"

using namespace quorvel::core;


struct PreviewCalls
{
    int flushes = 0;
    QStringList reloads;
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
    void prepareForReload(const QString &text) override { m_calls.reloads << text; }
    void scrollToFraction(double fraction) override { m_calls.fractions << fraction; }
    void scrollToHeadingText(const QString &text, bool instant) override
    {
        m_calls.headings << (instant ? u'!' + text : text);
    }
    void find(const QString &query, FindCompletion completion) override
    {
        m_calls.finds << QStringLiteral("find:") + query;
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

    std::optional<QString> askSavePath(const PlatformDocument &) override
    {
        ++pathRequests;
        return savePath;
    }
    bool confirmOverwriteNewerFile(const PlatformDocument &) override
    {
        ++overwriteQuestions;
        return overwriteNewer;
    }
    void reportSaveError(const PlatformDocument &, const QString &message) override
    {
        errors << message;
    }
    bool confirmConvertToUtf8(const PlatformDocument &) override
    {
        ++conversionQuestions;
        return convert;
    }
};

// A model wired to a document the way a window wires it, without the window.
struct Harness
{
    std::unique_ptr<ScratchEnvironment> own;
    ScratchEnvironment &scratch;
    QObject window;
    FakePrompter prompter;
    std::unique_ptr<PlatformDocument> document;
    std::unique_ptr<DocumentModel> model;

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
        auto content = titled ? std::move(MarkdownDocument::open(path)).value()
                              : std::make_unique<MarkdownDocument>();
        document = std::make_unique<PlatformDocument>(std::move(content), path);
        document->setPrompter(&prompter);
        model = std::make_unique<DocumentModel>(scratch.env());
        model->setWindow(&window);
        model->setPlatformDocument(document.get());
        if (titled)
            model->setFileURL(QUrl::fromLocalFile(path));
        MarkdownDocument *text = &document->content();
        model->getText = [text] { return text->text(); };
        model->setText = [this, text](const QString &t) {
            if (t == text->text())
                return;
            text->setText(t);
            document->updateChangeCount(PlatformDocument::Change::Done);
            model->setDirty(true);
            model->scheduleAutosave();
        };
    }
    QByteArray onDisk() const { return ScratchEnvironment::read(document->filePath()); }
};
