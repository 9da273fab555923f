#include "tokenizer.h"

namespace veloxa::ctl {
namespace {

struct KnownOption {
    const char *name;
    bool takesValue;
};

constexpr KnownOption kOptions[] = {
    {"host", true},     {"port", true},     {"sysclk", true},
    {"listen", true},   {"polarity", true}, {"step", true},
    {"rate", true},     {"stop", true},     {"dry-run", false},
    {"verbose", false}, {"help", false},    {"version", false},
    {"panel", false},   {"json", false},    {"unit", true},
    {"mqtt", true},     {"mqtt-ca", true},  {"mqtt-credentials", true},
};

const KnownOption *findOption(const QString &name)
{
    for (const KnownOption &option : kOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// "--name" and "-x" are options; "-", "--", "-12.5" and "-.5" are values, so
// negative numbers and the polarity "-" need no quoting.
bool looksLikeOption(const QString &token)
{
    if (token.startsWith(QLatin1String("--")))
        return token.size() > 2;
    return token.size() >= 2 && token.at(0) == QLatin1Char('-') && token.at(1).isLetter();
}

} // namespace

Checked<Tokens> tokenize(const QStringList &arguments)
{
    Tokens tokens;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &token = arguments.at(i);
        if (!looksLikeOption(token)) {
            tokens.positionals.append(token);
            continue;
        }
        if (token == QLatin1String("-h")) {
            tokens.help = true;
            continue;
        }
        if (!token.startsWith(QLatin1String("--")))
            return Failure{QStringLiteral("unknown option %1").arg(token) + kSeeHelp};

        const qsizetype equals = token.indexOf(QLatin1Char('='));
        const QString name = token.mid(2, equals < 0 ? -1 : equals - 2);
        const KnownOption *known = findOption(name);
        if (!known)
            return Failure{QStringLiteral("unknown option --%1").arg(name) + kSeeHelp};
        if (tokens.options.contains(name))
            return Failure{QStringLiteral("--%1 is given twice").arg(name) + kSeeHelp};

        QString value;
        if (known->takesValue) {
            if (equals >= 0)
                value = token.mid(equals + 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i); // whatever follows, "-" and "-5" included
            else
                return Failure{QStringLiteral("--%1 needs a value").arg(name) + kSeeHelp};
        } else if (equals >= 0) {
            return Failure{QStringLiteral("--%1 takes no value").arg(name) + kSeeHelp};
        }
        if (name == QLatin1String("help"))
            tokens.help = true;
        else if (name == QLatin1String("version"))
            tokens.version = true;
        tokens.options.insert(name, value);
    }
    return tokens;
}

} // namespace veloxa::ctl
