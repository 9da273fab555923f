#pragma once
// What a unit would hold after the commands it has been sent.
//
// The simulator has no DDS behind it: it only remembers the settings the
// commands carry, so that a panel session can be checked by reading them back.

#include "core/link/decoder.h"

#include <QList>
#include <QString>

#include <optional>

namespace veloxa::sim {

class UnitState {
public:
    void apply(const link::DecodedCommand &command);
    void noteMalformed() { ++m_malformed; }

    // One line: "state: frequency FTW=... | polarity + | ... | malformed 0".
    QString summary() const;

private:
    std::optional<link::DecodedCommand> m_frequency;
    std::optional<link::DecodedCommand> m_polarity;
    std::optional<link::DecodedCommand> m_power;
    std::optional<link::DecodedCommand> m_gain;
    std::optional<link::DecodedCommand> m_contrast;
    std::optional<link::DecodedCommand> m_ramp; // the latest ramp-start
    bool m_rampRunning = false;
    QList<link::DecodedCommand> m_sequence; // sequence-add commands, in order
    int m_executions = 0;
    int m_restarts = 0;
    int m_heartbeats = 0;
    int m_registerDumps = 0;
    int m_malformed = 0;
};

} // namespace veloxa::sim
