#pragma once
// The window's named controls, as the code outside the window reaches them:
// start-up and shut-down, restoring, the link view and the tests. The window
// creates and owns every one of them.

#include "gui/controls/option_group.h"
#include "gui/controls/slider.h"
#include "gui/controls/text_box.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace veloxa::window {

struct PanelControls {
    controls::TextBox &txtIP;
    controls::TextBox &txtPort;
    QPushButton &cmdHb;
    QPushButton &cmdDdsReg;
    controls::TextBox &txtFreq;
    QLabel &lblLaserFreq;
    QPushButton &cmdUpdateFreq;
    controls::TextBox &txtRampRate;
    controls::TextBox &txtRampStep;
    controls::TextBox &txtStopFreq;
    QPushButton &cmdRampStart;
    QPushButton &cmdRampStop;
    controls::OptionGroup &optDdsPolarity;
    controls::TextBox &txtSysClk;
    QPushButton &cmdSeqClear;
    QPushButton &cmdSeqFreq;
    QPushButton &cmdSeqRamp;
    QPushButton &cmdSeqAdwin;
    QPushButton &cmdSeqExecute;
    QPushButton &cmdSeqRestart;
    controls::Slider &sldGain;
    controls::OptionGroup &optDdsPower;
    controls::Slider &sldContrast;
    QLabel &lblRev;
    QTimer &tmrHB;
};

} // namespace veloxa::window
