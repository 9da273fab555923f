#include "gui/remote/panel_events.h"

#include "core/link/decoder.h"
#include "core/link/link_log.h"
#include "gui/remote/panel_operations.h"
#include "gui/window/link_view.h"

#include <QDateTime>
#include <QJsonDocument>

namespace veloxa::remote {
PanelEvents::PanelEvents(const window::PanelControls &controls, const PanelOperations &operations,
                         link::Channel &channel, window::LinkView &linkView)
    : m_operations(operations)
{
    for (const QString &name : PanelOperations::shownControls())
        m_reported.insert(name, operations.controlState(name));

    connect(&channel, &link::Channel::datagramSent, this, [this](const link::Datagram &datagram) {
        if (m_watched)
            report(QStringLiteral("sent"), datagramFields(datagram));
    });
    connect(&channel, &link::Channel::sendFailed, this, [this](const link::Datagram &datagram, const QString &reason) {
        if (!m_watched)
            return;
        QJsonObject fields = datagramFields(datagram);
        fields.insert(QStringLiteral("reason"), reason);
        report(QStringLiteral("send-failed"), fields);
    });
    connect(&channel, &link::Channel::datagramArrived, this,
            [this](const QHostAddress &sender, quint16 port, qsizetype length) {
                report(QStringLiteral("arrived"),
                       {{QStringLiteral("length"), static_cast<qint64>(length)},
                        {QStringLiteral("from"), link::endpointText(sender, port)}});
            });
    // Connected with this object as the context: an endpoint that is closed
    // (or never opened) leaves nothing behind in the window.
    connect(&linkView, &window::LinkView::shownStateChanged, this, [this](bool heard) {
        report(QStringLiteral("link"), {{QStringLiteral("heard"), heard}});
        reportChanges();
    });
    watchControls(controls);
}

void PanelEvents::setWatched(const void *watcher, bool watched)
{
    if (watched)
        m_watchers.insert(watcher);
    else
        m_watchers.remove(watcher);
    m_watched = !m_watchers.isEmpty();
}

void PanelEvents::watchControls(const window::PanelControls &controls)
{
    // Connected after the window's own handlers, so each runs once the
    // handling (nested corrections included) is through; captions and labels
    // have no signal of their own and are compared then.
    for (controls::TextBox *box : {&controls.txtIP, &controls.txtPort, &controls.txtFreq, &controls.txtRampRate,
                                   &controls.txtRampStep, &controls.txtStopFreq, &controls.txtSysClk})
        connect(box, &controls::TextBox::changed, this, &PanelEvents::reportChanges);
    for (controls::Slider *slider : {&controls.sldGain, &controls.sldContrast})
        connect(slider, &QAbstractSlider::valueChanged, this, &PanelEvents::reportChanges);
    for (controls::OptionGroup *group : {&controls.optDdsPolarity, &controls.optDdsPower})
        for (int i = 0; i < group->count(); ++i)
            connect(group->option(i), &QAbstractButton::toggled, this, &PanelEvents::reportChanges);
    for (QPushButton *button :
         {&controls.cmdHb, &controls.cmdDdsReg, &controls.cmdUpdateFreq, &controls.cmdRampStart, &controls.cmdRampStop,
          &controls.cmdSeqClear, &controls.cmdSeqFreq, &controls.cmdSeqRamp, &controls.cmdSeqAdwin,
          &controls.cmdSeqExecute, &controls.cmdSeqRestart})
        connect(button, &QAbstractButton::clicked, this, &PanelEvents::reportChanges);
    connect(&controls.tmrHB, &QTimer::timeout, this, &PanelEvents::reportChanges);
}

void PanelEvents::reportChanges()
{
    for (const QString &control : PanelOperations::shownControls()) {
        const QJsonValue value = m_operations.controlState(control);
        QJsonValue &reported = m_reported[control];
        if (value == reported)
            continue;
        reported = value;
        if (m_watched)
            report(QStringLiteral("changed"), {{QStringLiteral("name"), control}, {QStringLiteral("value"), value}});
    }
}

QJsonObject PanelEvents::datagramFields(const link::Datagram &datagram)
{
    // The panel sends the same few commands again and again (heartbeat,
    // polarity, a frequency): each is decoded once.
    auto known = m_meanings.constFind(datagram);
    if (known == m_meanings.cend()) {
        if (m_meanings.size() >= kMeaningsKept)
            m_meanings.clear();
        known = m_meanings.insert(datagram, {link::hexBytes(datagram), link::meaningOf(datagram)});
    }
    return {{QStringLiteral("bytes"), known->first}, {QStringLiteral("meaning"), known->second}};
}

QString PanelEvents::timeNow()
{
    // ISO 8601 in UTC to the millisecond; the part up to the second is
    // formatted once a second.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != m_second) {
        m_second = second;
        m_secondText = QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate);
        m_secondText.chop(1); // its "Z"
        m_secondText += QLatin1Char('.');
    }
    return m_secondText + QString::number(now % 1000).rightJustified(3, QLatin1Char('0')) + QLatin1Char('Z');
}

void PanelEvents::report(const QString &kind, QJsonObject fields)
{
    if (!m_watched)
        return;
    fields.insert(QStringLiteral("time"), timeNow());
    fields.insert(QStringLiteral("kind"), kind);
    emit happened(fields);
}

} // namespace veloxa::remote
