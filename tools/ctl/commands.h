#pragma once
// The commands veloxa2-ctl knows: each one's name, the options it takes and
// the datagrams it puts together from the panel's own builders. A new command
// is one row in the table of commands.cpp, and one in panel_commands.cpp if
// --panel can do it too (and a few lines of help text).

#include "tokenizer.h"

#include "core/link/datagrams.h"

#include <QList>

namespace veloxa::ctl {

// The datagrams of the command in `tokens`, in the order they go. The tuning
// words are those of the system clock `clockText` (already checked: clockMHz).
Checked<QList<link::Datagram>> buildCommand(const Tokens &tokens, const QString &clockText, double clockMHz);

} // namespace veloxa::ctl
