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

    connect(&channel, &link::Channel::datagramSent, this,
            [this](const link::Datagram &datagram) { reportDatagram(QLatin1String("sent"), datagram); });
    connect(&channel, &link::Channel::sendFailed, this, [this](const link::Datagram &datagram, const QString &reason) {
        reportDatagram(QLatin1String("send-failed"), datagram, reason);
    });
    connect(&channel, &link::Channel::datagramArrived, this,
            [this](const QHostAddress &sender, quint16 port, qsizetype length) {
                if (m_watched)
                    emit happened({QLatin1String("arrived"),
                                   {{QLatin1String("length"), static_cast<qint64>(length)},
                                    {QLatin1String("from"), link::endpointText(sender, port)}}});
            });
    // Connected with this object as the context: an endpoint that is closed
    // (or never opened) leaves nothing behind in the window.
    connect(&linkView, &window::LinkView::shownStateChanged, this, [this](bool heard) {
        if (m_watched)
            emit happened({QLatin1String("link"), {{QLatin1String("heard"), heard}}});
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
            emit happened(
                {QLatin1String("changed"), {{QLatin1String("name"), control}, {QLatin1String("value"), value}}});
    }
}

void PanelEvents::reportDatagram(QLatin1String kind, const link::Datagram &datagram, const QString &reason)
{
    if (!m_watched)
        return;
    // The panel sends the same few commands again and again (heartbeat,
    // polarity, a frequency): each is decoded once.
    auto known = m_meanings.constFind(datagram);
    if (known == m_meanings.cend()) {
        if (m_meanings.size() >= kMeaningsKept)
            m_meanings.clear();
        known = m_meanings.insert(datagram, {link::hexBytes(datagram), link::meaningOf(datagram)});
    }
    const PanelEvent::Field bytes{QLatin1String("bytes"), known->first};
    const PanelEvent::Field meaning{QLatin1String("meaning"), known->second};
    if (reason.isNull())
        emit happened({kind, {bytes, meaning}});
    else
        emit happened({kind, {bytes, meaning, {QLatin1String("reason"), reason}}});
}

PanelEvent::PanelEvent(QLatin1String kind, std::initializer_list<Field> fields)
    : m_msecs(QDateTime::currentMSecsSinceEpoch())
    , m_kind(kind)
{
    Q_ASSERT(fields.size() <= kMostFields);
    for (const Field &field : fields)
        if (m_count < kMostFields)
            m_fields.at(m_count++) = field;
}

QJsonValue PanelEvent::value(QLatin1String name) const
{
    for (std::size_t i = 0; i < m_count; ++i)
        if (m_fields.at(i).name == name)
            return m_fields.at(i).value;
    return {};
}

QJsonObject PanelEvent::toJson(EventTimes &times) const
{
    QJsonObject object{{QStringLiteral("time"), times.text(m_msecs)}, {QStringLiteral("kind"), m_kind}};
    for (std::size_t i = 0; i < m_count; ++i)
        object.insert(m_fields.at(i).name, m_fields.at(i).value);
    return object;
}

QString EventTimes::text(qint64 msecsSinceEpoch)
{
    const qint64 second = msecsSinceEpoch / 1000;
    if (second != m_second) {
        m_second = second;
        m_secondText = QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate);
        m_secondText.chop(1); // its "Z"
        m_secondText += QLatin1Char('.');
    }
    return m_secondText + QString::number(msecsSinceEpoch % 1000).rightJustified(3, QLatin1Char('0'))
        + QLatin1Char('Z');
}

} // namespace veloxa::remote
