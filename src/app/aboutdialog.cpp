#include "aboutdialog.h"

#include "buildinfo.h"
#include "export/exporter.h"
#include "support.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

namespace quorvel::app {

using namespace Qt::StringLiterals;

namespace {

// The page's packages under the names their projects go by.
QString displayName(const QString &package)
{
    static const QHash<QString, QString> names = {
        {u"@fontsource/inter"_s, u"Inter (font)"_s},
        {u"@fontsource/jetbrains-mono"_s, u"JetBrains Mono (font)"_s},
        {u"@fontsource/source-serif-4"_s, u"Source Serif 4 (font)"_s},
        {u"dompurify"_s, u"DOMPurify"_s},
        {u"katex"_s, u"KaTeX"_s},
        {u"mermaid"_s, u"Mermaid"_s},
    };
    return names.value(package, package);
}

QString item(const QString &name, const QString &version)
{
    return version.isEmpty() ? u"<li>%1</li>"_s.arg(name.toHtmlEscaped())
                             : u"<li>%1 %2</li>"_s.arg(name.toHtmlEscaped(), version.toHtmlEscaped());
}

} // namespace

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About Quorvel"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    icon->setVisible(!QApplication::windowIcon().isNull());
    m_label = new QLabel(this);
    m_label->setTextFormat(Qt::RichText);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(360);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *row = new QHBoxLayout;
    row->setSpacing(18);
    row->addWidget(icon);
    row->addWidget(m_label, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    m_pandoc = tr("looking\u2026");
    showText();
    askPandoc();
}

AboutDialog::~AboutDialog()
{
    // A pandoc still starting is stopped with the dialog, and its end is no news to a dialog
    // half torn down.
    if (m_process)
        m_process->disconnect(this);
}

AboutDialog *AboutDialog::showFor(QWidget *parent)
{
    QWidget *window = parent ? parent->window() : nullptr;
    auto *dialog = window ? window->findChild<AboutDialog *>() : nullptr;
    if (!dialog)
        dialog = new AboutDialog(window);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

QString AboutDialog::text() const
{
    QTextDocument document;
    document.setHtml(m_label->text());
    return document.toPlainText();
}

void AboutDialog::askPandoc()
{
    const std::optional<QString> path = exporter::pandocPath();
    if (!path) {
        m_pandoc = tr("not found (Word export needs it)");
        showText();
        return;
    }
    // Its first line names the version ("pandoc 3.1.3"); starting it takes a moment, which the
    // dialog does not wait for.
    auto *process = new QProcess(this);
    m_process = process;
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
        const QString first = QString::fromUtf8(process->readAllStandardOutput()).section(u'\n', 0, 0);
        const bool ok = status == QProcess::NormalExit && code == 0 && !first.isEmpty();
        m_pandoc = ok ? first.section(u' ', 1).trimmed() : tr("found, but it did not say its version");
        process->deleteLater();
        showText();
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_pandoc = tr("found, but it did not start");
        process->deleteLater();
        showText();
    });
    process->start(*path, {u"--version"_s});
}

void AboutDialog::showText()
{
    const QString license = QString::fromUtf8(buildinfo::kLicense);
    QString libraries = item(u"Qt"_s, QString::fromLatin1(qVersion()))
        + item(u"Qt WebEngine"_s, QString::fromLatin1(qWebEngineVersion()))
        + item(u"Chromium"_s, QString::fromLatin1(qWebEngineChromiumVersion()))
        + item(u"Hunspell"_s, QString::fromUtf8(buildinfo::kHunspellVersion));
    for (const buildinfo::Package &package : buildinfo::kPagePackages) {
        if (package.name)
            libraries += item(displayName(QString::fromUtf8(package.name)),
                              QString::fromUtf8(package.version));
    }
    libraries += u"<li>pandoc: %1</li>"_s.arg(m_pandoc.toHtmlEscaped());
    m_label->setText(
        u"<h2>Quorvel</h2><p>%1</p><p>%2</p><p>%3</p><ul>%4</ul>"_s.arg(
            support::versionLabel().toHtmlEscaped(),
            license.isEmpty() ? tr("No licence file came with this build.")
                              : tr("Licence: %1").arg(license.toHtmlEscaped()),
            tr("Built on:"), libraries));
}

} // namespace quorvel::app
