#pragma once

#include "core/broker/broker_options.h"

#include <QStringList>

#include <optional>

namespace veloxa::app {

// The options of veloxa2-gui itself. Qt's own (-platform, -style, ...) are
// taken by QApplication before these are read.
struct PanelOptions {
    bool control = false; // open the control endpoint for scripts
    QString unit; // --unit: the unit this panel stands for; empty without it
    // --mqtt and what goes with it; the URL is checked, the files are read
    // when the bridge starts.
    std::optional<broker::BrokerAddress> broker;
    bool brokerCommands = false;
    QString brokerCa;
    QString brokerCredentials;
};

// What the command line asks for: the options to run the panel with, or an
// end with this exit status once the help, the version or one line naming a
// wrong option has been printed.
struct OptionsOutcome {
    std::optional<PanelOptions> run;
    int exitStatus = 0;
};

inline constexpr int kExitUsage = 2;

// Reads the arguments (the program's name first) and prints what it must:
// the help or the version on stdout, a wrong option on stderr.
OptionsOutcome readPanelOptions(const QStringList &arguments);

// True when the arguments only ask for the help or the version, which need
// no display: the panel answers them before its window's application exists.
bool asksOnlyForText(int argc, const char *const *argv);

} // namespace veloxa::app
