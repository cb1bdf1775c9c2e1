#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVariantAnimation;

namespace quorvel::core {
class DocumentFile;
class DocumentModel;
}

namespace quorvel::app {

// The row above the document while another program's change waits for the user: what happened
// and when, with Ignore and Reload; or, when the file was moved or deleted, Save Again. It shows
// and hides itself with the model's outside change and missing file.
class ReloadBanner : public QWidget
{
    Q_OBJECT

public:
    ReloadBanner(core::DocumentModel &model, core::DocumentFile &file, QWidget *parent = nullptr);

    QString title() const;
    QString detail() const;
    QPushButton *reloadButton() const { return m_reload; }
    QPushButton *ignoreButton() const { return m_ignore; }
    QPushButton *saveAgainButton() const { return m_saveAgain; }

private:
    void refresh();
    void slide(bool in);

    core::DocumentModel &m_model;
    core::DocumentFile &m_file;
    QLabel *m_title = nullptr;
    QLabel *m_detail = nullptr;
    QPushButton *m_ignore = nullptr;
    QPushButton *m_reload = nullptr;
    QPushButton *m_saveAgain = nullptr;
    QVariantAnimation *m_slide = nullptr;
    bool m_shown = false;
};

} // namespace quorvel::app
