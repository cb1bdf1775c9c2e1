#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProcess;

namespace quorvel::app {

// Help › About Quorvel: the version, the licence, and what the program is built on, each at
// the version known when it was built or found where it runs. pandoc is asked for its version
// in the background; the dialog shows the answer when it comes.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    // The one About dialog of `parent`'s window, shown and raised.
    static AboutDialog *showFor(QWidget *parent);

    // What the dialog says, as plain text.
    QString text() const;

private:
    void askPandoc();
    void showText();

    QLabel *m_label = nullptr;
    QString m_pandoc;
    QPointer<QProcess> m_process;
};

} // namespace quorvel::app
