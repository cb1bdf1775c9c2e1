#include "previewcontroller.h"

#include "core/debuglog.h"
#include "core/filereader.h"
#include "core/documentmodel.h"
#include "core/documenttext.h"
#include "pagehost.h"
#include "pageprotocol.h"
#include "quorvelwebview.h"
#include "themes/appearance.h"
#include "webpagehost.h"

#include <algorithm>
#include "wikilinkresolver.h"
#include "vault/vaultindex.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace quorvel::preview {

using core::previewLog;
using namespace Qt::StringLiterals;

namespace {

// A font of the page is tens of kilobytes; anything near this is no font of ours.
constexpr qint64 kMostFontBytes = 4 * 1024 * 1024;

// Characters as the user sees them (grapheme clusters), as the debug lines count them.
int visibleLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

std::optional<QString> folderString(const QUrl &docDir)
{
    if (docDir.isEmpty())
        return std::nullopt;
    return docDir.toString(QUrl::FullyEncoded);
}

} // namespace

PreviewController::PreviewController(core::DocumentModel *model, core::Scheduler &scheduler,
                                     themes::Appearance &appearance,
                                     std::unique_ptr<PageHost> host)
    : m_model(model)
    , m_scheduler(scheduler)
    , m_appearance(appearance)
    , m_host(std::move(host))
{
    if (m_model)
        connect(&m_model->text(), &core::DocumentText::edited, this, &PreviewController::textEdited);
}

PreviewController::~PreviewController()
{
    m_pending.cancel();
}

std::unique_ptr<PreviewController> PreviewController::create(core::DocumentModel &model,
                                                             QWebEngineProfile *profile)
{
    auto controller = std::make_unique<PreviewController>(
        &model, model.scheduler(), model.environment().appearance, nullptr);
    auto host = WebPageHost::take(profile);
    host->setReceiver([self = QPointer(controller.get())](const QJsonObject &body) {
        if (self)
            self->receive(body);
    });
    controller->m_host = std::move(host);
    controller->webView()->setController(controller.get());
    controller->m_prepareSpareAfterRender = true;
    return controller;
}

PreviewController *PreviewController::of(core::DocumentModel &model)
{
    // The model knows its preview only through the narrow interface; the application, which
    // installed this factory, is the one place that needs the widget behind it.
    return dynamic_cast<PreviewController *>(&model.preview());
}

QString PreviewController::webDirectory()
{
    if (qEnvironmentVariableIsSet("QUORVEL_WEB_DIR"))
        return QDir::cleanPath(qEnvironmentVariable("QUORVEL_WEB_DIR")) + u'/';
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString beside = exeDir + QStringLiteral("/web/");
    if (QFileInfo::exists(beside + QStringLiteral("index.html")))
        return beside;
    return QDir::cleanPath(exeDir + QStringLiteral("/../share/quorvel/web")) + u'/';
}

QuorvelWebView *PreviewController::webView() const
{
    return m_host->webView();
}

void PreviewController::run(const QString &script)
{
    m_host->runScript(script, nullptr);
}

// Rendering ---------------------------------------------------------------------------------

void PreviewController::update(bool immediate)
{
    if (!m_model)
        return;
    applyTheme(m_appearance, m_model->theme());
    setEditable(m_model->mode() == core::DocumentModel::Mode::Visual);
    scheduleFlush(immediate ? std::chrono::milliseconds(0) : kRenderDelay);
}

void PreviewController::textEdited(const core::TextEdit &, core::EditOrigin origin)
{
    // The page has its own edits already; it learns of everyone else's. Typing in the source
    // waits for a pause; a change made at once (undo, a reload, a ticked task) shows at once.
    if (origin == core::EditOrigin::Page)
        return;
    scheduleFlush(origin == core::EditOrigin::SourceEditor ? kRenderDelay
                                                           : std::chrono::milliseconds(0));
}

void PreviewController::scheduleFlush(std::chrono::milliseconds delay)
{
    // Typing pushes the render back until it pauses.
    m_pending.cancel();
    m_pending = m_scheduler.after(delay, [self = QPointer(this)] {
        if (self)
            self->flush();
    });
}

void PreviewController::flush()
{
    m_pending.cancel();
    if (!m_ready || !m_model)
        return;
    // A hidden page waits: it gets what changed when it shows again.
    if (m_model->mode() == core::DocumentModel::Mode::Source && m_pageRevision)
        return;
    // One change at a time: the next is measured from what the page said to this one. A page
    // that never answers (it went away mid-script) holds nothing up for long.
    if (m_inFlight && m_inFlightSince.msecsTo(m_scheduler.now()) < kAnswerTimeout.count()) {
        m_flushAgain = true;
        return;
    }
    const core::DocumentText &document = m_model->text();
    const quint64 revision = document.revision();
    m_docDir = folderString(m_model->docDirUrl()).value_or(QString());
    if (m_pageRevision == revision && m_pageDir == m_docDir)
        return;
    const QString &text = document.text();
    QString script;
    // After the first render only what changed travels: a keystroke in a 10 MB note is a few
    // bytes, not 20 MB of script for the engine to read.
    if (m_pageRevision && m_pageDir == m_docDir) {
        if (const auto delta = document.changeSince(*m_pageRevision);
            delta && delta->inserted.size() < text.size() / 2)
            script = pagecommand::update(*delta, *m_pageRevision, revision, text.size());
    }
    const bool whole = script.isEmpty();
    if (whole) {
        // Carrying megabytes into the page takes the engine a second or more; the first screen
        // goes ahead on its own so that the reader sees it meanwhile.
        if (text.size() > kFirstScreenAheadFrom) {
            qsizetype cut = text.indexOf(QStringLiteral("\n\n"), kFirstScreenChars);
            if (cut > 0 && cut < text.size() / 2) {
                m_host->runScript(pagecommand::render(text.left(cut + 1), m_docDir, -1),
                                  nullptr);
            }
        }
        script = pagecommand::render(text, m_docDir, qint64(revision));
    }
    if (core::debugEnabled()) {
        previewLog(QStringLiteral("render flush (%1 characters, %2)")
                       .arg(visibleLength(text))
                       .arg(whole ? u"whole" : u"delta"));
    }
    m_pageRevision = revision;
    m_pageDir = m_docDir;
    m_inFlight = true;
    m_inFlightSince = m_scheduler.now();
    core::startupMark("text-sent");
    m_host->runScript(script, [self = QPointer(this)](const QVariant &result) {
        if (!self)
            return;
        self->m_inFlight = false;
        // The page held another text than this side thought (it was edited meanwhile): it
        // refused the change, and gets the whole text.
        if (result.typeId() == QMetaType::Bool && !result.toBool()) {
            previewLog(QStringLiteral("the page refused a change; sending the whole text"));
            self->m_pageRevision.reset();
            self->m_flushAgain = true;
        }
        if (std::exchange(self->m_flushAgain, false))
            self->flush();
    });
}

void PreviewController::applyTheme(const themes::Appearance &appearance, themes::ThemeKind theme)
{
    const QString payload = appearance.jsPayload(theme);
    if (!m_ready || payload == m_lastTheme)
        return;
    m_lastTheme = payload;
    previewLog(QStringLiteral("theme ") + themes::storedName(theme));
    run(pagecommand::setTheme(payload));
}

// Visual editing ----------------------------------------------------------------------------

void PreviewController::setEditable(bool editable)
{
    if (!editable)
        m_enterAt.reset();
    if (editable == m_editable)
        return;
    m_editable = editable;
    if (m_ready)
        sendEditable();
}

void PreviewController::sendEditable()
{
    if (!m_editable) {
        // Left before the page took typing: what was typed goes in first (below).
        if (!m_typingLive && !m_heldKeys.empty()) {
            m_leaveAfterKeys = true;
            return;
        }
        m_typingLive = false;
        m_heldKeys.clear();
        run(pagecommand::setEditable(false));
        return;
    }
    m_typingLive = false;
    m_leaveAfterKeys = false;
    // The caret's offset is one of the text as it is now: the page gets that text first.
    const auto caret = std::exchange(m_enterAt, std::nullopt);
    if (caret)
        flush();
    // Answered once the page has built the whole note and put the caret in it.
    m_host->runScript(pagecommand::setEditable(true, caret), [self = QPointer(this)](const QVariant &) {
        if (!self)
            return;
        if (self->m_editable) {
            self->releaseKeys();
        } else if (std::exchange(self->m_leaveAfterKeys, false)) {
            self->releaseKeys();
            self->m_typingLive = false;
            self->run(pagecommand::setEditable(false));
        }
    });
}

bool PreviewController::holdKey(QWidget *target, const QKeyEvent &key)
{
    // The mode, not m_editable: the page is told of a switch to the editing view a moment after
    // it, and keys typed at once (in the same batch as the switch's own) reached a page that did
    // not take them yet, and were lost.
    if (!m_model || m_model->mode() != core::DocumentModel::Mode::Visual || m_typingLive || !m_host)
        return false;
    if (m_heldKeys.empty())
        previewLog(QStringLiteral("keys held until the page takes typing"));
    m_heldKeys.push_back({QPointer(target), std::unique_ptr<QKeyEvent>(key.clone())});
    return true;
}

void PreviewController::releaseKeys()
{
    m_typingLive = true;
    if (!m_heldKeys.empty())
        previewLog(QStringLiteral("%1 held key events given to the page").arg(m_heldKeys.size()));
    // Given to the engine in one go, as they came: keys pressed meanwhile come after them.
    // Before the page had loaded, its view may have had the focus in place of the page's own
    // widget, which takes keys only now.
    QWebEngineView *view = webView();
    QWidget *page = view ? view->focusProxy() : nullptr;
    for (auto &[target, key] : std::exchange(m_heldKeys, {})) {
        if (QWidget *to = target == view && page ? page : target.data())
            QCoreApplication::sendEvent(to, key.get());
    }
}

void PreviewController::flushEdits()
{
    if (!m_ready || !m_editable)
        return;
    m_host->runScript(pagecommand::kFlushEdit, [self = QPointer(this)](const QVariant &result) {
        if (self)
            self->applyFlushedEdit(result);
    });
}

void PreviewController::flushEditsNow(std::chrono::milliseconds timeout)
{
    if (!m_ready || !m_editable)
        return;
    // Shared with the completion, which may come after this function gave up waiting.
    struct Wait
    {
        bool answered = false;
        QEventLoop *loop = nullptr;
    };
    auto wait = std::make_shared<Wait>();
    const auto answered = [self = QPointer(this), wait](const QVariant &result) {
        wait->answered = true;
        if (wait->loop)
            wait->loop->quit();
        if (self)
            self->applyFlushedEdit(result);
    };
    m_host->runScript(pagecommand::kFlushEdit, answered);
    if (wait->answered)
        return;
    QEventLoop loop;
    wait->loop = &loop;
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    // Keys must wait: one that reached the window now would land in a page about to go.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    wait->loop = nullptr;
    if (!wait->answered)
        previewLog(QStringLiteral("the page did not hand over its edit in time"));
}

void PreviewController::applyFlushedEdit(const QVariant &result)
{
    if (const auto edit = decodeFlushedEdit(result))
        handleEdit(*edit);
}

void PreviewController::prepareForReload()
{
    // An edit in progress was made from the text being replaced: the page drops it, and one
    // already on its way is refused (handleEdit) for coming from before the reload.
    if (m_ready)
        run(pagecommand::cancelEdit());
}

void PreviewController::format(const QString &key)
{
    run(pagecommand::format(key));
}

void PreviewController::pastePlainText(const QString &text)
{
    run(pagecommand::pastePlain(text));
}

void PreviewController::requestUndo(bool redo)
{
    // Through the page, so that its typing not yet sent is a step of its own before the undo.
    run(pagecommand::undo(redo));
}

void PreviewController::insertImage(const QString &path)
{
    run(pagecommand::insertImage(path));
}

void PreviewController::handleEdit(const message::Edit &m)
{
    if (!m_model)
        return;
    core::DocumentText &document = m_model->text();
    const core::TextEdit edit{m.start, m.removed, m.inserted};
    const quint64 base = quint64(m.base);
    const bool fits = m.start + m.removed <= m.length;
    if (fits && base == document.revision() && m_pageRevision == base
        && m.length == document.size()) {
        // The page typed into the text as it is: the usual case.
        if (document.apply(edit, core::EditOrigin::Page))
            m_pageRevision = document.revision();
        else if (!edit.isEmpty())
            resendWhole();
        return;
    }
    // The text changed while the edit was on its way.
    if (!fits || document.editedSinceBy(base, core::EditOrigin::Disk)) {
        // Made from the text a reload replaced: the file as read wins.
        previewLog(QStringLiteral("edit ignored: reload in progress"));
    } else if (document.editedSinceBy(base, core::EditOrigin::Page)) {
        // Counted from an edit of the page's that was itself moved: its place is unknown.
        previewLog(QStringLiteral("page edit dropped: it overlaps typing in the source"));
    } else if (const auto moved = document.rebase(edit, base)) {
        // Typing elsewhere (the source, just after leaving the editing view) and the page's
        // edit touch different characters: both stay.
        document.apply(*moved, core::EditOrigin::Page);
    } else {
        previewLog(QStringLiteral("page edit dropped: it overlaps typing in the source"));
    }
    resendWhole();
}

void PreviewController::askCaret(std::function<void(std::optional<qsizetype>)> answer)
{
    if (!m_ready) {
        answer(std::nullopt);
        return;
    }
    // Its typing not yet sent comes first, so that the offset is one of the text as it stands.
    m_host->runScript(pagecommand::kFlushEdit, [self = QPointer(this)](const QVariant &result) {
        if (self)
            self->applyFlushedEdit(result);
    });
    m_host->runScript(pagecommand::kCaretOffset, [answer = std::move(answer)](const QVariant &result) {
        bool ok = false;
        const qsizetype offset = result.toLongLong(&ok);
        answer(ok && result.isValid() && offset >= 0 ? std::optional(offset) : std::nullopt);
    });
}

void PreviewController::resendWhole()
{
    m_pageRevision.reset();
    scheduleFlush(std::chrono::milliseconds(0));
}

void PreviewController::undo(bool redo)
{
    if (!m_model)
        return;
    core::DocumentText &document = m_model->text();
    const auto caret = redo ? document.redo() : document.undo();
    if (!caret)
        return;
    // The page is shown the change first, then the caret goes where it was made.
    flush();
    run(pagecommand::placeCaret(*caret));
}

void PreviewController::handlePasteImage(const QString &data)
{
    const auto decoded = QByteArray::fromBase64Encoding(data.toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || data.contains(u'\n') || data.contains(u'\r'))
        return;
    const QImage image = QImage::fromData(*decoded);
    if (image.isNull() || !m_model)
        return;
    if (const auto path = m_model->saveImage(image))
        insertImage(*path);
}

// Scrolling, find, export -------------------------------------------------------------------

void PreviewController::scrollToFraction(double fraction)
{
    // A page still loading has no script to scroll it yet (the split view reports the source's
    // place as it opens); it shows its note from the top.
    if (m_ready)
        run(pagecommand::scrollToFraction(fraction));
}

void PreviewController::scrollToHeading(const QString &id)
{
    run(pagecommand::scrollToHeading(id));
}

void PreviewController::scrollToHeadingText(const QString &text, bool instant)
{
    run(pagecommand::scrollToHeadingText(text, instant));
}

void PreviewController::find(const QString &query, core::FindOptions options,
                             FindCompletion completion)
{
    findScript(pagecommand::find(query, options), std::move(completion));
}

void PreviewController::findStep(int step, FindCompletion completion)
{
    findScript(pagecommand::findStep(step), std::move(completion));
}

void PreviewController::findScript(const QString &script, FindCompletion completion)
{
    m_host->runScript(script, [completion = std::move(completion)](const QVariant &result) {
        if (!completion)
            return;
        const message::Find found = decodeFindAnswer(result);
        completion(found.count, found.index);
    });
}

void PreviewController::findClear()
{
    run(pagecommand::findClear());
}

void PreviewController::takeFocus()
{
    if (QWidget *view = webView())
        view->setFocus();
}

void PreviewController::whenDrawn(std::function<void()> done, bool now, bool laidOut)
{
    m_whenDrawn.push_back(std::move(done));
    m_drawnScript = pagecommand::reportDrawn(now, laidOut);
    run(m_drawnScript);
}

QStringList PreviewController::exportFolders() const
{
    if (!m_model || m_model->fileUrl().isEmpty())
        return {};
    const QString path = m_model->filePath();
    QStringList folders{QFileInfo(path).absolutePath()};
    if (const auto root = vault::VaultIndex::vaultRoot(path))
        folders << *root;
    return folders;
}

QString PreviewController::standaloneCss(const QString &css, const QString &webDir)
{
    // The page's fonts are files beside the page, which an exported file does not have: each
    // goes into the file itself, and a face whose file cannot be read goes, leaving the
    // family's fallbacks.
    static const QRegularExpression face(
        QStringLiteral("@font-face\\s*\\{[^}]*?url\\((fonts/[A-Za-z0-9._-]+\\.woff2)\\)[^}]*\\}"));
    QString out;
    qsizetype at = 0;
    auto faces = face.globalMatch(css);
    while (faces.hasNext()) {
        const auto m = faces.next();
        out += QStringView(css).mid(at, m.capturedStart() - at);
        at = m.capturedEnd();
        const auto bytes = core::FileReader::read(QDir(webDir).filePath(m.captured(1)), kMostFontBytes);
        if (!bytes)
            continue;
        QString rule = m.captured(0);
        rule.replace(u"url("_s + m.captured(1) + u')',
                     u"url(data:font/woff2;base64,"_s + QString::fromLatin1(bytes.value().toBase64()) + u')');
        out += rule;
    }
    out += QStringView(css).mid(at);
    return out;
}

void PreviewController::exportHTML(const QString &title, const QString &outputPath,
                                   std::function<void(const std::optional<QString> &)> completion)
{
    QFile file(webDirectory() + QStringLiteral("style.css"));
    const QString css = standaloneCss(
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString(), webDirectory());
    const QString base = QUrl::fromLocalFile(QFileInfo(outputPath).absolutePath() + u'/')
                             .toString(QUrl::FullyEncoded);
    const auto answer = [completion](const QVariant &result) {
        if (!completion)
            return;
        if (result.typeId() == QMetaType::QString)
            completion(result.toString());
        else
            completion(std::nullopt);
    };
    // The page only lists its images; which of them may be copied into a file the user will
    // share is decided here, where a file's type, size and place can be known.
    m_host->runScript(
        pagecommand::exportImages(),
        [self = QPointer(this), title, css, base, folders = exportFolders(),
         answer](const QVariant &listed) {
            if (!self) {
                answer(QVariant());
                return;
            }
            core::startupMark("images-listed");
            QJsonObject images;
            for (const QVariant &item : listed.toList()) {
                const QString address = item.toString();
                const QUrl url(address);
                if (!url.isLocalFile())
                    continue;
                if (const auto image =
                        core::FileReader::embeddableImage(url.toLocalFile(), folders))
                    images.insert(address, QString::fromLatin1("data:" + image->mimeType
                                                               + ";base64,"
                                                               + image->bytes.toBase64()));
            }
            // Links and images alike: an address whose file is not there is left out of the
            // export, which would otherwise point at nothing beside it. Only whether a file is
            // there is asked; nothing is read.
            self->m_host->runScript(
                pagecommand::exportFiles(),
                [self, title, css, base, images, answer](const QVariant &files) {
                    if (!self) {
                        answer(QVariant());
                        return;
                    }
                    core::startupMark("files-listed");
                    QStringList present;
                    for (const QVariant &item : files.toList()) {
                        const QUrl url(item.toString().trimmed());
                        if (url.isLocalFile() && QFileInfo::exists(url.toLocalFile()))
                            present << item.toString();
                    }
                    self->m_host->runScript(
                        pagecommand::exportHTML(title, css, images, base, present), answer);
                });
        });
}

// Messages ----------------------------------------------------------------------------------

struct BridgeMessageHandler
{
    PreviewController &c;

    void operator()(const message::Ready &) { c.handleReady(); }
    void operator()(const message::Edit &m) { c.handleEdit(m); }
    void operator()(const message::Undo &) { c.undo(false); }
    void operator()(const message::Redo &) { c.undo(true); }
    void operator()(const message::PasteImage &m) { c.handlePasteImage(m.data); }
    void operator()(const message::Outline &m) { c.handleOutline(m); }
    void operator()(const message::Link &m)
    {
        if (c.m_model)
            c.m_model->openLink(m.href, m.written);
    }
    void operator()(const message::Wikilink &m)
    {
        if (c.m_model)
            c.m_model->openWikilink(m.target, m.heading);
    }
    void operator()(const message::ContextMenu &m) { c.m_contextLinkKind = m.link; }
    void operator()(const message::Resolve &m) { c.handleResolve(m.targets); }
    void operator()(const message::Task &m)
    {
        if (c.m_model)
            c.m_model->toggleTask(m.index, m.checked);
    }
    void operator()(const message::Find &m)
    {
        if (c.m_model)
            c.m_model->setFindResult(m.count, m.index);
    }
    void operator()(const message::Rendered &) { c.handleRendered(); }
    void operator()(const message::Scroll &m)
    {
        if (c.m_model)
            c.m_model->previewScrolled(m.fraction);
    }
    void operator()(const message::Drawn &)
    {
        // Links marked resolved or not are part of the drawing.
        if (c.m_resolving > 0) {
            c.m_drawnWhileResolving = true;
            return;
        }
        for (auto &done : std::exchange(c.m_whenDrawn, {}))
            done();
    }
};

void PreviewController::receive(const QJsonObject &body)
{
    const auto type = messageType(body);
    if (!type)
        return;
    core::bridgeLog(*type);
    // Logged before decoding: an "edit" without its source still counts as received.
    if (*type == u"edit")
        previewLog(QStringLiteral("edit received"));
    const auto decoded = decodeMessage(body);
    if (!decoded)
        return;
    std::visit(BridgeMessageHandler{*this}, *decoded);
    Q_EMIT messageReceived(*type);
}

void PreviewController::handleReady()
{
    core::startupMark("ready");
    m_ready = true;
    m_lastTheme.reset();
    m_pageRevision.reset();
    m_inFlight = false;
    applyTheme(m_appearance, m_model ? m_model->theme() : m_appearance.theme());
    m_typingLive = false;
    m_leaveAfterKeys = false;
    if (!m_editable)
        m_heldKeys.clear();
    flush();
    if (m_editable)
        sendEditable();
}

void PreviewController::handleOutline(const message::Outline &outline)
{
    if (!m_model)
        return;
    if (!outline.splice) {
        m_model->setOutline(outline.items);
        return;
    }
    const auto [from, removed, before] = *outline.splice;
    const core::Outline &items = m_model->outline();
    if (from < 0 || removed < 0 || before != items.size() || from + removed > items.size()) {
        run(pagecommand::kOutlineAgain);
        return;
    }
    core::Outline spliced = items.first(from);
    spliced.reserve(before - removed + outline.items.size());
    spliced.append(outline.items);
    spliced.append(items.sliced(from + removed));
    m_model->setOutline(spliced);
}

void PreviewController::handleRendered()
{
    core::startupMark("rendered");
    if (m_model) {
        if (const auto heading = m_model->consumePendingHeading()) {
            m_scheduler.after(kHeadingRevealDelay, [self = QPointer(this), text = *heading] {
                if (self)
                    self->scrollToHeadingText(text, false);
            });
        }
    }
    if (std::exchange(m_prepareSpareAfterRender, false)) {
        // After this page's first render, not before: on two cores a spare loading alongside
        // made the first window's page take twice as long.
        WebPageHost::prepareSpare();
    }
    if (onRendered)
        onRendered();
}

void PreviewController::handleResolve(const QStringList &targets)
{
    if (!m_model || m_model->fileUrl().isEmpty())
        return;
    const QString path = m_model->filePath();
    ++m_resolving;
    QThreadPool::globalInstance()->start([self = QPointer(this), targets, path] {
        const QString resolved = resolveWikilinkTargets(targets, path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, resolved] {
                if (!self)
                    return;
                self->run(pagecommand::resolved(resolved));
                if (--self->m_resolving == 0 && self->m_drawnWhileResolving) {
                    // The page was drawn with links still unresolved; ask again, now that the
                    // answer is ahead of the question.
                    self->m_drawnWhileResolving = false;
                    self->run(self->m_drawnScript);
                }
            },
            Qt::QueuedConnection);
    });
}

// Context menu and prompt -------------------------------------------------------------------

void PreviewController::adjustContextMenu(QMenu &menu, const QList<OfferedAction> &offered,
                                          const std::function<void(MenuRole)> &editAction,
                                          const QString &misspelt)
{
    QList<MenuEntry> entries;
    for (int i = 0; i < offered.size(); ++i)
        entries.append({offered[i].role, offered[i].action->text(), i});
    const MenuContext context{m_editable, std::exchange(m_contextLinkKind, QString()),
                              core::debugEnabled(), misspelt};
    const QList<MenuEntry> plan = planContextMenu(entries, context);

    // Taken out, not cleared: clear() would delete the suggestion actions the menu owns.
    for (QAction *action : menu.actions())
        menu.removeAction(action);
    for (const MenuEntry &entry : plan) {
        if (entry.offered >= 0) {
            menu.addAction(offered[entry.offered].action);
            continue;
        }
        switch (entry.role) {
        case MenuRole::Separator:
            menu.addSeparator();
            break;
        case MenuRole::EditLink:
            menu.addAction(entry.title, this, &PreviewController::editContextLink);
            break;
        case MenuRole::OpenLink:
            menu.addAction(entry.title, this, &PreviewController::openContextLink);
            break;
        case MenuRole::RemoveLink:
            menu.addAction(entry.title, this, &PreviewController::unlinkContextLink);
            break;
        case MenuRole::AddLink:
            menu.addAction(entry.title, this, &PreviewController::createLinkFromMenu);
            break;
        case MenuRole::NoGuesses:
            menu.addAction(entry.title)->setEnabled(false);
            break;
        case MenuRole::IgnoreSpelling:
        case MenuRole::AddToDictionary:
            menu.addAction(entry.title, this, [this, misspelt, add = entry.role == MenuRole::AddToDictionary] {
                Q_EMIT learnWordRequested(misspelt, add);
            });
            break;
        default:
            menu.addAction(entry.title, &menu, [editAction, role = entry.role] {
                editAction(role);
            });
            break;
        }
    }
    previewLog(QStringLiteral("menu: ") + describeMenu(plan));
}

void PreviewController::recheckSpelling()
{
    // A page still loading checks with the new dictionary anyway.
    if (m_ready)
        run(pagecommand::kRecheckSpelling);
}

void PreviewController::editContextLink()
{
    run(pagecommand::editContextLink());
}

void PreviewController::openContextLink()
{
    run(pagecommand::openContextLink());
}

void PreviewController::unlinkContextLink()
{
    run(pagecommand::unlinkContextLink());
}

void PreviewController::createLinkFromMenu()
{
    format(QStringLiteral("link"));
}

std::optional<QString> PreviewController::askText(QWidget *parent, const QString &prompt,
                                                  const QString &defaultText)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Quorvel"));
    // Over its window like a sheet; alone when the view is in none.
    dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(prompt, &dialog);
    label->setWordWrap(true);
    auto *field = new QLineEdit(defaultText, &dialog);
    field->setMinimumSize(320, 24);
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

} // namespace quorvel::preview
