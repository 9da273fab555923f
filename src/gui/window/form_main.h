#pragma once
// The panel's one window: every control, its place, its tab order, and the
// wiring of each control's events to the controller that handles them.
// The window itself holds no behaviour.

#include "core/link/channel.h"
#include "core/link/clock.h"
#include "core/link/link_supervisor.h"
#include "core/settings/store.h"
#include "gui/controls/option_group.h"
#include "gui/controls/slider.h"
#include "gui/controls/text_box.h"
#include "gui/dds/frequency_entry.h"
#include "gui/dds/lock_controls.h"
#include "gui/dds/system_clock.h"
#include "gui/ramp/ramp_control.h"
#include "gui/ramp/ramp_parameters.h"
#include "gui/sequence/command_sequence.h"
#include "gui/window/panel_controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace veloxa::window {

class LinkView;

class FormMain : public QWidget {
    Q_OBJECT
public:
    // The client area: 4665 x 5700 twips, 311 x 380 pixels at 15 twips a pixel.
    static constexpr int kClientWidth = 311;
    static constexpr int kClientHeight = 380;

    FormMain(link::Channel &channel, settings::SettingsStore &store, const link::MonotonicClock &clock,
             QWidget *parent = nullptr);
    ~FormMain() override;

    // The controls, by the names the panel's documentation uses.
    const PanelControls &controls() const { return *m_controls; }

    link::Channel &Enet;

    dds::LockControls &lockControls() { return *m_lock; }
    link::LinkSupervisor &linkSupervisor() { return *m_linkSupervisor; }
    LinkView &linkView() { return *m_linkView; }

    // From here on no event of any control is handled: shut-down calls it
    // after storing the settings, and the window before it is destroyed.
    void detachHandlers();
    bool handlersAttached() const { return m_wiring != nullptr; }

signals:
    // The user closes the window (or the program is asked to end).
    void unloading();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Frames;
    void createControls();
    void createFrequencyAndRampControls(const Frames &frames);
    void createSequenceButtons(const Frames &frames);
    void createLinkAndLockControls(const Frames &frames);
    void createDisplays(const Frames &frames);
    void wireControls(settings::SettingsStore &store, const link::MonotonicClock &clock);

    controls::TextBox *txtIP;
    controls::TextBox *txtPort;
    QPushButton *cmdHb;
    QPushButton *cmdDdsReg;
    controls::TextBox *txtFreq;
    QLabel *lblLaserFreq;
    QPushButton *cmdUpdateFreq;
    controls::TextBox *txtRampRate;
    controls::TextBox *txtRampStep;
    controls::TextBox *txtStopFreq;
    QPushButton *cmdRampStart;
    QPushButton *cmdRampStop;
    controls::OptionGroup *optDdsPolarity;
    controls::TextBox *txtSysClk;
    QPushButton *cmdSeqClear;
    QPushButton *cmdSeqFreq;
    QPushButton *cmdSeqRamp;
    QPushButton *cmdSeqAdwin;
    QPushButton *cmdSeqExecute;
    QPushButton *cmdSeqRestart;
    controls::Slider *sldGain;
    controls::OptionGroup *optDdsPower;
    controls::Slider *sldContrast;
    QLabel *lblRev;
    QTimer *tmrHB;
    std::unique_ptr<PanelControls> m_controls;
    double m_fontScale = 1.0; // of the desktop's font against the design's (desktop_scale.h)

    std::unique_ptr<QObject> m_wiring; // context of the window's own connections
    std::unique_ptr<dds::LockControls> m_lock;
    std::unique_ptr<dds::SystemClockEntry> m_systemClock;
    std::unique_ptr<dds::FrequencyEntry> m_frequency;
    std::unique_ptr<ramp::RampParameters> m_rampParameters;
    std::unique_ptr<ramp::RampControl> m_rampControl;
    std::unique_ptr<sequence::CommandSequence> m_sequence;
    std::unique_ptr<LinkView> m_linkView;
    std::unique_ptr<link::LinkSupervisor> m_linkSupervisor;
};

} // namespace veloxa::window
