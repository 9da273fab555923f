#include "unit_state.h"

#include <QStringList>

namespace veloxa::sim {

using link::CommandKind;
using link::DecodedCommand;

namespace {

QString setting(const char *name, const std::optional<DecodedCommand> &command)
{
    return command ? link::describe(*command) : QStringLiteral("%1 unset").arg(QLatin1String(name));
}

// A sequence entry as the command it stands for, without the sequence-add prefix.
QString entry(const DecodedCommand &command)
{
    static const QString prefix = QStringLiteral("sequence-add ");
    QString text = link::describe(command);
    if (text.startsWith(prefix))
        text.remove(0, prefix.size());
    return text;
}

} // namespace

void UnitState::apply(const DecodedCommand &command)
{
    switch (command.kind) {
    case CommandKind::Frequency: m_frequency = command; break;
    case CommandKind::RampStart:
        m_ramp = command;
        m_rampRunning = true;
        break;
    case CommandKind::RampStop: m_rampRunning = false; break;
    case CommandKind::RegisterDump: ++m_registerDumps; break;
    case CommandKind::Heartbeat: ++m_heartbeats; break;
    case CommandKind::Power: m_power = command; break;
    case CommandKind::Polarity: m_polarity = command; break;
    case CommandKind::Gain: m_gain = command; break;
    case CommandKind::Contrast: m_contrast = command; break;
    case CommandKind::SequenceClear: m_sequence.clear(); break;
    case CommandKind::SequenceAddFrequency:
    case CommandKind::SequenceAddRamp:
    case CommandKind::SequenceAddAdwinWait: m_sequence.append(command); break;
    case CommandKind::SequenceExecute: ++m_executions; break;
    case CommandKind::SequenceRestart: ++m_restarts; break;
    }
}

QString UnitState::summary() const
{
    QString ramp;
    if (!m_ramp) {
        ramp = QStringLiteral("ramp never started");
    } else {
        QString parameters = link::describe(*m_ramp);
        parameters.remove(0, QStringLiteral("ramp-start ").size());
        ramp = (m_rampRunning ? QStringLiteral("ramp running ") : QStringLiteral("ramp stopped ")) + parameters;
    }

    QStringList entries;
    for (const DecodedCommand &command : m_sequence)
        entries << entry(command);
    const QString sequence = QStringLiteral("sequence %1 [%2] executed %3 restarted %4")
                                 .arg(m_sequence.size())
                                 .arg(entries.join(QLatin1String(", ")))
                                 .arg(m_executions)
                                 .arg(m_restarts);

    const QStringList fields{
        setting("frequency", m_frequency),
        setting("polarity", m_polarity),
        setting("power", m_power),
        setting("gain", m_gain),
        setting("contrast", m_contrast),
        ramp,
        sequence,
        QStringLiteral("heartbeats %1").arg(m_heartbeats),
        QStringLiteral("register-dumps %1").arg(m_registerDumps),
        QStringLiteral("malformed %1").arg(m_malformed),
    };
    return QStringLiteral("state: ") + fields.join(QLatin1String(" | "));
}

} // namespace veloxa::sim
