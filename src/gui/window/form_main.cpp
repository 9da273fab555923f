#include "gui/window/form_main.h"

#include "core/unit/limits.h"
#include "gui/controls/command_button.h"
#include "gui/window/accessibility.h"
#include "gui/window/desktop_scale.h"
#include "gui/window/link_view.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>

#include <cmath>

namespace veloxa::window {
namespace {

// The window's icon, an XPM picture compiled in: reading it takes no image
// plugin, so none is looked for at start-up.
#include "gui/window/resources/veloxa2.xpm"

QString text(std::string_view latin1)
{
    return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

QGroupBox *frame(const QString &caption, QWidget *parent, QRect geometry, double fontScale)
{
    auto *box = new QGroupBox(caption, parent);
    // The captions ask for the family by name: where it is missing, the font
    // system puts in its substitute for it.
    QFont captionFont(QStringLiteral("MS Sans Serif"));
    captionFont.setPointSizeF(8.25 * fontScale);
    captionFont.setBold(true);
    box->setFont(captionFont);
    box->setGeometry(geometry);
    return box;
}

// Controls inside a frame keep the window's font, not the frame's bold one.
void useWindowFont(QWidget *widget)
{
    QWidget *window = widget->window();
    if (widget->parentWidget() == window)
        return;
    // Each property set explicitly, so that none is inherited from the frame.
    QFont plain = window->font();
    plain.setFamilies(window->font().families().isEmpty() ? QStringList{window->font().family()}
                                                          : window->font().families());
    plain.setBold(false);
    plain.setPointSizeF(window->font().pointSizeF());
    widget->setFont(plain);
}

template <typename Widget>
Widget *place(Widget *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QLatin1String(name));
    useWindowFont(widget);
    widget->setGeometry(geometry);
    return widget;
}

controls::TextBox *textBox(const QString &text, QWidget *parent, const char *name, QRect geometry,
                           const QString &hint = {})
{
    auto *box = place(new controls::TextBox(text, parent), name, geometry);
    box->setToolTip(hint);
    return box;
}

QPushButton *button(const QString &caption, QWidget *parent, const char *name, QRect geometry, const QString &hint = {})
{
    auto *pushButton = place(new controls::CommandButton(caption, parent), name, geometry);
    pushButton->setToolTip(hint);
    return pushButton;
}

QLabel *label(const QString &caption, QWidget *parent, QRect geometry)
{
    auto *text = new QLabel(caption, parent);
    useWindowFont(text);
    text->setGeometry(geometry);
    return text;
}

controls::Slider *slider(QWidget *parent, const char *name, QRect geometry, int maximum, int value, int pageStep,
                         int tickInterval)
{
    auto *track = place(new controls::Slider(parent), name, geometry);
    track->setRange(0, maximum);
    track->setValue(value);
    track->setSingleStep(1);
    track->setPageStep(pageStep);
    track->setTickInterval(tickInterval);
    return track;
}

void addOptions(controls::OptionGroup *group, const char *name, QWidget *parent, const QString &first,
                const QString &second, const QString &hint)
{
    group->setObjectName(QLatin1String(name));
    const QString base = QLatin1String(name);
    auto *option0 = place(group->addOption(first, parent), (base + QLatin1String("_0")).toLatin1().constData(),
                          QRect(10, 17, 50, 18));
    auto *option1 = place(group->addOption(second, parent), (base + QLatin1String("_1")).toLatin1().constData(),
                          QRect(66, 17, 50, 18));
    option0->setToolTip(hint);
    option1->setToolTip(hint);
    group->select(0);
}

// Names every box and slider for screen readers: the label beside it on its
// row in the same frame, or else the caption of its frame. Buttons and option
// buttons are named by their caption, but for those whose caption is a symbol
// or a state (speakInWords).
void nameForScreenReaders(QWidget &window)
{
    const auto controls = window.findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (!qobject_cast<QLineEdit *>(control) && !qobject_cast<QAbstractSlider *>(control))
            continue;
        QWidget *frame = control->parentWidget();
        QString name;
        const QRect place = control->geometry();
        for (const QLabel *text : frame->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
            const QRect labelPlace = text->geometry();
            const bool sameRow = labelPlace.top() <= place.bottom() && place.top() <= labelPlace.bottom();
            if (sameRow && labelPlace.right() < place.left())
                name = text->text();
        }
        if (const auto *groupBox = qobject_cast<QGroupBox *>(frame); name.isEmpty() && groupBox)
            name = groupBox->title();
        control->setAccessibleName(name);
    }
}

} // namespace

FormMain::FormMain(link::Channel &channel, settings::SettingsStore &store, const link::MonotonicClock &clock,
                   QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint)
    , Enet(channel)
{
    presentFormsAsWindows();
    setObjectName(QStringLiteral("formMain"));
    setWindowTitle(QStringLiteral("Veloxa2 GUI"));
    setWindowIcon(QIcon(QPixmap(veloxa2)));
    // The layout grows with a larger desktop font (or font DPI); with the
    // default font the factors are 1 and nothing below changes.
    const LayoutScale scale = layoutScale(QApplication::font(), logicalDpiY());
    m_fontScale = scale.font;
    setFixedSize(static_cast<int>(std::lround(kClientWidth * scale.geometry)),
                 static_cast<int>(std::lround(kClientHeight * scale.geometry)));
    QFont windowFont = font();
    windowFont.setPointSizeF(8.0 * scale.font);
    setFont(windowFont);
    channel.setObjectName(QStringLiteral("Enet"));

    createControls();
    if (scale.geometry != 1.0) {
        scaleGeometry(*this, scale.geometry);
        lblRev->adjustSize();
    }
    nameForScreenReaders(*this);
    wireControls(store, clock);
    txtFreq->setFocus();
}

FormMain::~FormMain()
{
    detachHandlers();
}

void FormMain::detachHandlers()
{
    m_wiring.reset();
    m_linkSupervisor.reset();
    m_linkView.reset();
    m_sequence.reset();
    m_rampControl.reset();
    m_rampParameters.reset();
    m_frequency.reset();
    m_systemClock.reset();
    m_lock.reset();
}

// The frames the controls sit in.
struct FormMain::Frames {
    QGroupBox *ip;
    QGroupBox *port;
    QGroupBox *dds;
    QGroupBox *polarity;
    QGroupBox *clock;
    QGroupBox *gain;
    QGroupBox *power;
    QGroupBox *contrast;
    QGroupBox *ramp;
    QGroupBox *sequence;
};

namespace {

const QString &polarityHint()
{
    static const QString hint = QStringLiteral("Is tuned laser freq > or < than reference laser?");
    return hint;
}

// What screen readers say where a caption or hint is a symbol or a state:
// ">" and "<" in words, "+" and "--" as what they select, the heartbeat
// button as one name with its state as the description. Nothing visible
// changes.
void speakInWords(QGroupBox &polarityFrame, controls::OptionGroup &polarity, QPushButton &heartbeat)
{
    const QString hintInWords = QStringLiteral("Is tuned laser freq greater than or less than reference laser?");
    polarityFrame.setAccessibleDescription(hintInWords);
    polarity.option(0)->setAccessibleName(QStringLiteral("plus: tuned laser above the reference"));
    polarity.option(1)->setAccessibleName(QStringLiteral("minus: tuned laser below the reference"));
    for (int index : {0, 1})
        polarity.option(index)->setAccessibleDescription(hintInWords);
    heartbeat.setAccessibleName(QLatin1String(kHeartbeatName));
    describeHeartbeat(heartbeat);
}

} // namespace

void FormMain::createControls()
{
    // Frames first; the controls are then created in tab order, which is the
    // order the focus chain keeps.
    const Frames frames{
        frame(QStringLiteral("IP Address"), this, QRect(4, 2, 112, 46), m_fontScale),
        frame(QStringLiteral("Port"), this, QRect(120, 2, 58, 46), m_fontScale),
        frame(QStringLiteral("DDS Frequency"), this, QRect(4, 52, 124, 92), m_fontScale),
        frame(QStringLiteral("Polarity 'p'"), this, QRect(4, 148, 124, 40), m_fontScale),
        frame(QStringLiteral("System Clock"), this, QRect(4, 192, 124, 46), m_fontScale),
        frame(QStringLiteral("Gain (Icp) 'g'"), this, QRect(4, 242, 124, 42), m_fontScale),
        frame(QStringLiteral("DDS Power 0xA0..."), this, QRect(4, 288, 124, 40), m_fontScale),
        frame(QStringLiteral("Contrast 'c'"), this, QRect(4, 332, 124, 44), m_fontScale),
        frame(QStringLiteral("Ramp"), this, QRect(132, 52, 175, 130), m_fontScale),
        frame(QStringLiteral("Command Sequence"), this, QRect(132, 186, 175, 170), m_fontScale),
    };
    frames.port->setEnabled(false);
    frames.polarity->setToolTip(polarityHint());

    createFrequencyAndRampControls(frames);
    createSequenceButtons(frames);
    createLinkAndLockControls(frames);
    createDisplays(frames); // controls that take no focus come last

    tmrHB = new QTimer(this);
    tmrHB->setObjectName(QStringLiteral("tmrHB"));
    tmrHB->setInterval(1000);

    m_controls = std::make_unique<PanelControls>(PanelControls{
        *txtIP,       *txtPort,     *cmdHb,       *cmdDdsReg,    *txtFreq,       *lblLaserFreq,   *cmdUpdateFreq,
        *txtRampRate, *txtRampStep, *txtStopFreq, *cmdRampStart, *cmdRampStop,   *optDdsPolarity, *txtSysClk,
        *cmdSeqClear, *cmdSeqFreq,  *cmdSeqRamp,  *cmdSeqAdwin,  *cmdSeqExecute, *cmdSeqRestart,  *sldGain,
        *optDdsPower, *sldContrast, *lblRev,      *tmrHB});
}

void FormMain::createFrequencyAndRampControls(const Frames &frames)
{
    txtFreq = textBox(text(unit::initial::kFrequency), frames.dds, "txtFreq", QRect(8, 18, 108, 22),
                      QStringLiteral("DDS frequency in MHz"));
    cmdUpdateFreq = button(QStringLiteral("Update 0xA5"), frames.dds, "cmdUpdateFreq", QRect(8, 62, 108, 24),
                           QStringLiteral("Set frequency."));

    label(QStringLiteral("Rate"), frames.ramp, QRect(6, 20, 84, 18));
    label(QStringLiteral("Step Size (0 - 2^32)"), frames.ramp, QRect(6, 42, 84, 30))->setWordWrap(true);
    label(QStringLiteral("Stop f (MHz)"), frames.ramp, QRect(6, 76, 84, 18));
    txtRampRate = textBox(text(unit::initial::kRampRate), frames.ramp, "txtRampRate", QRect(92, 18, 77, 22),
                          QStringLiteral("Number of 4 clock cycles per step"));
    txtRampRate->setCharacterLimit(5);
    txtRampStep = textBox(text(unit::initial::kRampStep), frames.ramp, "txtRampStep", QRect(92, 46, 77, 22),
                          QStringLiteral("Step size in FTW units"));
    txtRampStep->setCharacterLimit(10);
    txtStopFreq = textBox(text(unit::initial::kStopFrequency), frames.ramp, "txtStopFreq", QRect(92, 74, 77, 22),
                          QStringLiteral("Stop frequency (MHz)"));
    cmdRampStart = button(QStringLiteral("Start 0xAC"), frames.ramp, "cmdRampStart", QRect(6, 100, 79, 24));
    cmdRampStop = button(QStringLiteral("Stop 0xAB"), frames.ramp, "cmdRampStop", QRect(90, 100, 79, 24));
}

void FormMain::createSequenceButtons(const Frames &frames)
{
    cmdSeqClear = button(QStringLiteral("Clear Sequence 0xC0"), frames.sequence, "cmdSeqClear", QRect(3, 16, 169, 22),
                         QStringLiteral("Clear the command sequence"));
    cmdSeqFreq = button(QStringLiteral("Add Frequency 0xC1 A5..."), frames.sequence, "cmdSeqFreq",
                        QRect(3, 40, 169, 22), QStringLiteral("Add the indicated frequency to the command sequence"));
    cmdSeqRamp = button(QStringLiteral("Add Ramp 0xC1 AC..."), frames.sequence, "cmdSeqRamp", QRect(3, 64, 169, 22),
                        QStringLiteral("Add the indicated ramp to the command sequence"));
    cmdSeqAdwin =
        button(QStringLiteral("Add Wait For ADWin 0xC1 A4"), frames.sequence, "cmdSeqAdwin", QRect(3, 88, 169, 22),
               QStringLiteral("Add (to the command sequence) the command to wait for a trigger from the "
                              "ADWin before executing next command in command sequence"));
    cmdSeqExecute =
        button(QStringLiteral("Execute Sequence 0xC4"), frames.sequence, "cmdSeqExecute", QRect(3, 118, 169, 22));
    cmdSeqRestart =
        button(QStringLiteral("Restart Sequence 0xC5"), frames.sequence, "cmdSeqRestart", QRect(3, 142, 169, 22));
}

void FormMain::createLinkAndLockControls(const Frames &frames)
{
    txtIP = textBox(text(unit::kDefaultHost), frames.ip, "txtIP", QRect(8, 18, 96, 22),
                    QStringLiteral("The unit's IP address"));
    setBackground(*txtIP, kLinkLostTint);
    describeLinkState(*txtIP, false);
    txtSysClk = textBox(text(unit::initial::kClock), frames.clock, "txtSysClk", QRect(8, 18, 108, 22),
                        QStringLiteral("System clock frequency, after PLL and divider (MHz)"));
    cmdHb = button(QStringLiteral("HB is on"), this, "cmdHb", QRect(184, 4, 123, 21),
                   QStringLiteral("Stop the heartbeat, for testing."));
    cmdDdsReg = button(QStringLiteral("DDS Reg 0xB0"), this, "cmdDdsReg", QRect(184, 27, 123, 21),
                       QStringLiteral("If debugging, show all DDS registers"));
    sldContrast = slider(frames.contrast, "sldContrast", QRect(8, 16, 108, 24), unit::kContrastMax,
                         unit::initial::kContrast, 5, 10);
    optDdsPower = new controls::OptionGroup(this);
    addOptions(optDdsPower, "optDdsPower", frames.power, QStringLiteral("On"), QStringLiteral("Off"), QString());
    sldGain = slider(frames.gain, "sldGain", QRect(8, 16, 108, 22), unit::kGainMax, unit::initial::kGain, 1, 1);
    optDdsPolarity = new controls::OptionGroup(this);
    addOptions(optDdsPolarity, "optDdsPolarity", frames.polarity, QStringLiteral("+"), QStringLiteral("--"),
               polarityHint());
    speakInWords(*frames.polarity, *optDdsPolarity, *cmdHb);
}

void FormMain::createDisplays(const Frames &frames)
{
    txtPort = textBox(QString::number(unit::kPort), frames.port, "txtPort", QRect(8, 18, 42, 22));
    txtPort->setEnabled(false);
    lblLaserFreq = place(new QLabel(QStringLiteral("(Laser Freq)"), frames.dds), "lblLaserFreq", QRect(8, 42, 108, 18));
    lblLaserFreq->setToolTip(QStringLiteral("Offset frequency"));
    lblRev = place(new QLabel(QStringLiteral("Revision:"), this), "lblRev", QRect(136, 360, 10, 16));
    lblRev->adjustSize();
}

void FormMain::wireControls(settings::SettingsStore &store, const link::MonotonicClock &clock)
{
    m_lock = std::make_unique<dds::LockControls>(*optDdsPolarity, *optDdsPower, *sldContrast, *sldGain, Enet, store);
    m_systemClock = std::make_unique<dds::SystemClockEntry>(*txtSysClk);
    m_frequency =
        std::make_unique<dds::FrequencyEntry>(*txtFreq, *txtSysClk, *lblLaserFreq, *cmdUpdateFreq, Enet, *m_lock);
    m_rampParameters =
        std::make_unique<ramp::RampParameters>(*txtRampRate, *txtRampStep, *txtStopFreq, *txtSysClk, store);
    m_rampControl = std::make_unique<ramp::RampControl>(*txtRampRate, *txtRampStep, *txtStopFreq, *txtSysClk,
                                                        *cmdRampStart, *cmdRampStop, Enet, *m_lock);
    m_sequence = std::make_unique<sequence::CommandSequence>(
        sequence::SequenceButtons{*cmdSeqClear, *cmdSeqFreq, *cmdSeqRamp, *cmdSeqAdwin, *cmdSeqExecute, *cmdSeqRestart},
        sequence::SequenceSources{*txtFreq, *txtSysClk, *txtRampRate, *txtRampStep, *txtStopFreq}, Enet);

    m_wiring = std::make_unique<QObject>();
    QObject *wiring = m_wiring.get();
    connect(cmdDdsReg, &QPushButton::clicked, wiring, [this] { Enet.send(link::registerDumpCommand()); });

    m_linkView = std::make_unique<LinkView>(*txtIP, *cmdHb, *m_lock);
    m_linkSupervisor = std::make_unique<link::LinkSupervisor>(Enet, clock, *m_linkView);
    connect(cmdHb, &QPushButton::clicked, wiring, [this] { m_linkView->toggleHeartbeat(); });
    connect(tmrHB, &QTimer::timeout, wiring, [this] { m_linkSupervisor->tick(); });
    connect(&Enet, &link::Channel::arrived, wiring, [this] { m_linkSupervisor->arrival(); });
}

void FormMain::closeEvent(QCloseEvent *event)
{
    emit unloading();
    event->accept();
}

} // namespace veloxa::window
