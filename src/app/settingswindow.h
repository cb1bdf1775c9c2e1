#pragma once

#include <QWidget>

#include <functional>

class QFormLayout;
class QTabWidget;

namespace quorvel::themes {
class Appearance;
}

namespace quorvel::app {

class Updater;

// The Preferences window: three tabs (Appearance, PDF Export, Updates) whose every control
// writes its setting at once; there is no Apply or Cancel. Open windows follow through the
// settings' own change signals, and the controls follow changes made elsewhere (the View menu).
// The slider ranges are this window's: the settings themselves take any value.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(themes::Appearance &appearance, Updater &updater,
                            QWidget *parent = nullptr);
    ~SettingsWindow() override;

    // The one window of the program, over the shared settings and updater: made on first use,
    // then shown again and raised.
    static SettingsWindow *showShared();

    QTabWidget *tabs() const { return m_tabs; }

private:
    QWidget *appearanceTab();
    QWidget *exportTab();
    QWidget *updatesTab();
    void addSlider(QFormLayout *form, const QString &name, double min, double max, double step,
                   std::function<QString(double)> label, std::function<double()> read,
                   std::function<void(double)> write);
    void refresh();
    void fitCurrentTab();

    themes::Appearance &m_appearance;
    Updater &m_updater;
    QTabWidget *m_tabs = nullptr;
    // Each brings one control back in line with its setting, without writing it.
    std::vector<std::function<void()>> m_refreshers;
};

} // namespace quorvel::app
