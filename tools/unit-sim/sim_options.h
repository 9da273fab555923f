#pragma once
// The simulator's command line: every option read and checked in one place,
// so that a bad value ends the program with one line before anything binds.

#include "unit_sim.h"

#include <QString>
#include <QStringList>

#include <variant>

namespace veloxa::sim {

struct SimArguments {
    SimOptions options;
    bool stateOnExit = false;
};

// What the program does with its command line: run, print this text and end
// (--help), or end with this one-line complaint (exit status 2).
struct ShowText {
    QString text;
};
struct UsageError {
    QString message;
};
using ParsedArguments = std::variant<SimArguments, ShowText, UsageError>;

// `arguments` with the program name first, as QCoreApplication::arguments().
// A seed is drawn when --drop is given without --seed, so that every run
// can be repeated.
ParsedArguments parseArguments(const QStringList &arguments);

} // namespace veloxa::sim
