#pragma once
// The command line split into options and positional values.

#include "checked.h"

#include <QMap>
#include <QStringList>

namespace veloxa::ctl {

struct Tokens {
    QMap<QString, QString> options; // name without dashes -> value ("" for a flag)
    QStringList positionals;
    bool help = false;
    bool version = false;
};

// Options go anywhere on the line, as --name VALUE or --name=VALUE; an
// unknown option, one given twice or one without its value is refused.
Checked<Tokens> tokenize(const QStringList &arguments);

} // namespace veloxa::ctl
