#pragma once
// The command line of veloxa2-ctl, turned into the datagrams to send.
//
// Every datagram comes from the panel's own builders (core/link/datagrams.h,
// and core/rules/tuning_word.h for the tuning word and the ramp command), and
// every value is checked against the range the panel keeps its controls in,
// so a command given here puts on the wire exactly what the panel would.

#include "core/broker/broker_options.h"
#include "core/link/datagrams.h"
#include "core/unit/limits.h"
#include "panel_commands.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace veloxa::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSendFailed = 1;
inline constexpr int kExitUsage = 2;

inline constexpr quint16 kDefaultPort = unit::kPort;
inline const QString kDefaultHost = QString::fromLatin1(unit::kDefaultHost);
inline const QString kDefaultClock = QString::fromLatin1(unit::initial::kClock);

// What one run does.
struct Plan {
    enum class Action { Send, Help, Version };
    Action action = Action::Send;

    std::optional<QHostAddress> host; // --host; without it the stored or default address
    quint16 port = kDefaultPort;
    bool dryRun = false;
    bool verbose = false;
    std::optional<double> listenSeconds;
    QList<link::Datagram> datagrams; // in the order they go

    // --panel: requests to the running panel instead of datagrams to the unit.
    std::optional<PanelPlan> panel;
    bool json = false;
    // --unit: the panel of that unit (its endpoint, its topics, or its stored
    // address); "+" with --mqtt watch: every unit.
    QString unit;
    // --mqtt: the panel's requests through this broker instead of its endpoint.
    std::optional<broker::BrokerAddress> broker;
    QString brokerCa;
    QString brokerCredentials;
};

struct ParseResult {
    std::optional<Plan> plan;
    QString error; // one line, without the program's name; empty when plan is set
};

// The arguments after the program's name.
ParseResult parseCommandLine(const QStringList &arguments);

// The destination when --host is not given: the panel's stored "IP Address"
// when there is one that is a dotted quad, else 192.168.1.133.
struct DefaultHost {
    QHostAddress address;
    QString origin; // where it came from, for --verbose
};
DefaultHost defaultHost(const QString &unit = {});

QString helpText();

} // namespace veloxa::ctl
