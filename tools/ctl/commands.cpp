#include "commands.h"

#include "core/rules/tuning_word.h"
#include "core/unit/limits.h"

namespace veloxa::ctl {
namespace {

using Datagrams = QList<link::Datagram>;

// The options only some commands take.
enum Takes : unsigned { kNoOptions = 0, kPolarity = 1, kRampOptions = 2 };

// A builder of link/ given a value checked here always gives its datagram;
// were it ever not to, the command is refused rather than sent wrong.
Checked<Datagrams> built(const std::optional<link::Datagram> &datagram)
{
    if (!datagram)
        return Failure{QStringLiteral("the command cannot be built")};
    return Datagrams{*datagram};
}

class CommandBuilder {
public:
    CommandBuilder(const Tokens &tokens, const QString &command, QStringList arguments, QString clockText,
                   double clockMHz)
        : m_tokens(tokens)
        , m_command(command)
        , m_arguments(std::move(arguments))
        , m_clockText(std::move(clockText))
        , m_clockMHz(clockMHz)
    {
    }

    // An option that the command does not take.
    std::optional<QString> optionNotTaken(unsigned takes) const
    {
        if (!(takes & kPolarity) && m_tokens.options.contains(QStringLiteral("polarity")))
            return QStringLiteral("polarity");
        for (const char *name : {"step", "rate", "stop"})
            if (!(takes & kRampOptions) && m_tokens.options.contains(QLatin1String(name)))
                return QLatin1String(name);
        return std::nullopt;
    }

    // A command without values.
    Checked<Datagrams> fixed(const link::Datagram &datagram) const
    {
        if (const auto failure = expectValues(0, {}))
            return *failure;
        return Datagrams{datagram};
    }

    Checked<Datagrams> frequency() const { return withPolarity(frequencyCommand()); }
    Checked<Datagrams> rampStart() const { return withPolarity(rampCommand()); }
    Checked<Datagrams> sequenceFrequency() const { return addedToSequence(frequencyCommand()); }
    Checked<Datagrams> sequenceRamp() const { return addedToSequence(rampCommand()); }

    Checked<Datagrams> polarity() const
    {
        if (const auto failure = expectValues(1, QStringLiteral("+ or -")))
            return *failure;
        const auto index = polarityIndex(m_command, m_arguments.at(0));
        if (!index)
            return Failure{index.error()};
        return built(link::polarityCommand(*index));
    }

    Checked<Datagrams> power() const
    {
        if (const auto failure = expectValues(1, QStringLiteral("on or off")))
            return *failure;
        const QString &state = m_arguments.at(0);
        // The panel's options: index 0 "On", index 1 "Off".
        if (state == QLatin1String("on"))
            return Datagrams{link::powerCommand(0)};
        if (state == QLatin1String("off"))
            return Datagrams{link::powerCommand(1)};
        return Failure{QStringLiteral("%1: \"%2\" is neither on nor off").arg(m_command, state)};
    }

    Checked<Datagrams> gain() const
    {
        const auto position = wholeValue(unit::kGainMax);
        if (!position)
            return Failure{position.error()};
        return built(link::gainCommand(*position));
    }

    Checked<Datagrams> contrast() const
    {
        const auto value = wholeValue(unit::kContrastMax);
        if (!value)
            return Failure{value.error()};
        return built(link::contrastCommand(*value));
    }

private:
    std::optional<Failure> expectValues(int count, const QString &what) const
    {
        return ctl::expectValues(m_command, m_arguments, count, what);
    }

    // The one value of the command, a whole number 0..maximum.
    Checked<int> wholeValue(int maximum) const
    {
        if (const auto failure = expectValues(1, QStringLiteral("a value 0..%1").arg(maximum)))
            return *failure;
        const auto value = wholeNumberIn(m_command, m_arguments.at(0), 0, maximum);
        if (!value)
            return Failure{value.error()};
        return static_cast<int>(*value);
    }

    // The polarity command that follows a frequency or a ramp start, as the
    // panel's polarity repeat sends it; nothing without --polarity.
    Checked<Datagrams> withPolarity(const Checked<link::Datagram> &command) const
    {
        if (!command)
            return Failure{command.error()};
        Datagrams datagrams{*command};
        const auto polarity = m_tokens.options.constFind(QStringLiteral("polarity"));
        if (polarity == m_tokens.options.constEnd())
            return datagrams;
        const auto index = polarityIndex(QStringLiteral("--polarity"), *polarity);
        if (!index)
            return Failure{index.error()};
        const auto repeat = link::polarityCommand(*index);
        if (!repeat)
            return Failure{QStringLiteral("--polarity: the command cannot be built")};
        datagrams.append(*repeat);
        return datagrams;
    }

    static Checked<Datagrams> addedToSequence(const Checked<link::Datagram> &command)
    {
        if (!command)
            return Failure{command.error()};
        return Datagrams{link::sequenceAdd(*command)};
    }

    Checked<link::Datagram> frequencyCommand() const
    {
        if (const auto failure = expectValues(1, QStringLiteral("a frequency in MHz")))
            return *failure;
        const auto text = frequencyText(m_command, m_arguments.at(0), m_clockMHz);
        if (!text)
            return Failure{text.error()};
        const auto datagram = rules::buildFrequencyCommand(*text, m_clockText);
        if (!datagram)
            return Failure{QStringLiteral("%1: %2 MHz cannot be sent").arg(m_command, *text)};
        return *datagram;
    }

    Checked<link::Datagram> rampCommand() const
    {
        if (const auto failure = expectValues(0, {}))
            return *failure;
        QString texts[3];
        const char *const names[3] = {"step", "rate", "stop"};
        for (int i = 0; i < 3; ++i) {
            const auto value = m_tokens.options.constFind(QLatin1String(names[i]));
            if (value == m_tokens.options.constEnd())
                return Failure{QStringLiteral("%1: --%2 is missing").arg(m_command, QLatin1String(names[i]))
                               + kSeeHelp};
            texts[i] = *value;
        }
        const auto &[step, rate, stop] = texts;
        if (const auto checked = wholeNumberIn(QStringLiteral("--step"), step, 0, unit::kMaxStep); !checked)
            return Failure{checked.error()};
        if (const auto checked = wholeNumberIn(QStringLiteral("--rate"), rate, 0, unit::kMaxRate); !checked)
            return Failure{checked.error()};
        if (const auto checked = frequencyText(QStringLiteral("--stop"), stop, m_clockMHz); !checked)
            return Failure{checked.error()};
        const auto datagram = rules::buildRampStartCommand(step, rate, stop, m_clockText);
        if (!datagram)
            return Failure{QStringLiteral("%1: the ramp cannot be sent").arg(m_command)};
        return *datagram;
    }

    const Tokens &m_tokens;
    const QString m_command;
    const QStringList m_arguments;
    const QString m_clockText;
    const double m_clockMHz;
};

using Build = Checked<Datagrams> (*)(const CommandBuilder &);

struct Command {
    const char *name; // "seq add-freq" for a subcommand
    unsigned takes;
    Build build;
};

template <link::Datagram (*make)()>
Checked<Datagrams> fixedCommand(const CommandBuilder &builder)
{
    return builder.fixed(make());
}

link::Datagram sequenceAddWait()
{
    return link::sequenceAdd(link::adwinWaitCommand());
}

constexpr Command kCommands[] = {
    {"freq", kPolarity, [](const CommandBuilder &b) { return b.frequency(); }},
    {"ramp", kPolarity | kRampOptions, [](const CommandBuilder &b) { return b.rampStart(); }},
    {"ramp-stop", kNoOptions, fixedCommand<link::rampStopCommand>},
    {"polarity", kNoOptions, [](const CommandBuilder &b) { return b.polarity(); }},
    {"power", kNoOptions, [](const CommandBuilder &b) { return b.power(); }},
    {"gain", kNoOptions, [](const CommandBuilder &b) { return b.gain(); }},
    {"contrast", kNoOptions, [](const CommandBuilder &b) { return b.contrast(); }},
    {"dds-reg", kNoOptions, fixedCommand<link::registerDumpCommand>},
    {"heartbeat", kNoOptions, fixedCommand<link::heartbeatCommand>},
    {"seq clear", kNoOptions, fixedCommand<link::sequenceClearCommand>},
    {"seq add-freq", kNoOptions, [](const CommandBuilder &b) { return b.sequenceFrequency(); }},
    {"seq add-ramp", kRampOptions, [](const CommandBuilder &b) { return b.sequenceRamp(); }},
    {"seq add-wait", kNoOptions, fixedCommand<sequenceAddWait>},
    {"seq execute", kNoOptions, fixedCommand<link::sequenceExecuteCommand>},
    {"seq restart", kNoOptions, fixedCommand<link::sequenceRestartCommand>},
};

const Command *findCommand(const QString &name)
{
    for (const Command &command : kCommands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

} // namespace

Checked<Datagrams> buildCommand(const Tokens &tokens, const QString &clockText, double clockMHz)
{
    QStringList arguments = tokens.positionals;
    if (arguments.isEmpty())
        return Failure{QStringLiteral("no command given") + kSeeHelp};
    QString name = arguments.takeFirst();
    if (name == QLatin1String("seq")) {
        if (arguments.isEmpty())
            return Failure{QStringLiteral("seq needs one of clear, add-freq, add-ramp, add-wait, execute, restart")
                           + kSeeHelp};
        name += QLatin1Char(' ') + arguments.takeFirst();
    }
    const Command *command = findCommand(name);
    if (!command) {
        if (name.startsWith(QLatin1String("seq ")))
            return Failure{QStringLiteral("seq: unknown subcommand \"%1\"").arg(name.mid(4)) + kSeeHelp};
        return Failure{QStringLiteral("unknown command \"%1\"").arg(name) + kSeeHelp};
    }
    const CommandBuilder builder(tokens, name, arguments, clockText, clockMHz);
    if (const auto wrongOption = builder.optionNotTaken(command->takes))
        return Failure{QStringLiteral("--%1 does not go with %2").arg(*wrongOption, name) + kSeeHelp};
    return command->build(builder);
}

} // namespace veloxa::ctl
