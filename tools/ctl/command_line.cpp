#include "command_line.h"

#include "core/rules/text_numbers.h"
#include "core/rules/tuning_word.h"
#include "core/link/udp_channel.h"
#include "core/numbers/numbers.h"
#ifdef Q_OS_WIN
#include "core/settings/registry_store_qt.h"
#else
#include "core/settings/file_store.h"
#endif

#include <QMap>

namespace veloxa::ctl {
namespace {

const QString kSeeHelp = QStringLiteral("; see veloxa2-ctl --help");

struct KnownOption {
    const char *name;
    bool takesValue;
};

constexpr KnownOption kOptions[] = {
    {"host", true},     {"port", true},     {"sysclk", true},    {"listen", true},
    {"polarity", true}, {"step", true},     {"rate", true},      {"stop", true},
    {"dry-run", false}, {"verbose", false}, {"help", false},     {"version", false},
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

// The one line that says why a command line is refused.
struct Failure {
    QString message;
};

// A checked value, or the line that says why there is none.
template <typename T>
struct Checked {
    std::optional<T> value;
    QString error;
    Checked(T v) : value(std::move(v)) {}
    Checked(Failure f) : error(std::move(f.message)) {}
    explicit operator bool() const { return value.has_value(); }
    const T &operator*() const { return *value; }
    const T *operator->() const { return &*value; }
};

QString writtenNumber(double value)
{
    return QString::fromStdString(numbers::writeNumber(value));
}

QString rangeText(double low, double high)
{
    return writtenNumber(low) + QStringLiteral("..") + writtenNumber(high);
}

// The whole text as one number, as the panel reads its boxes when it sends.
Checked<double> numberIn(const QString &name, const QString &text, double low, double high, const QString &unit = {})
{
    const QString shown = text.trimmed();
    const QString range = rangeText(low, high) + unit;
    const auto value = numbers::wholeNumber(text.toStdString());
    if (!value)
        return Failure{QStringLiteral("%1: \"%2\" is not a number (%3)").arg(name, text, range)};
    if (*value < low || *value > high)
        return Failure{QStringLiteral("%1: %2 is outside %3").arg(name, shown, range)};
    return *value;
}

Checked<double> wholeNumberIn(const QString &name, const QString &text, double low, double high)
{
    const auto value = numberIn(name, text, low, high);
    if (value && !numbers::isWhole(*value))
        return Failure{QStringLiteral("%1: %2 is not a whole number (%3)").arg(name, text.trimmed(),
                                                                              rangeText(low, high))};
    return value;
}

// A frequency the panel's boxes would hold: at most half the system clock
// either way, compared as the panel compares it (against the written bound).
Checked<QString> frequencyText(const QString &name, const QString &text, double clockMHz)
{
    const double half = clockMHz / 2.0;
    const auto value = numbers::wholeNumber(text.toStdString());
    const QString range = QStringLiteral("%1 MHz, half the system clock of %2 MHz either way")
                              .arg(rangeText(-half, half), writtenNumber(clockMHz));
    if (!value)
        return Failure{QStringLiteral("%1: \"%2\" is not a number (%3)").arg(name, text, range)};
    if (*value > rules::asWritten(half) || *value < rules::asWritten(-half))
        return Failure{QStringLiteral("%1: %2 is outside %3").arg(name, text.trimmed(), range)};
    return text;
}

struct Tokens {
    QMap<QString, QString> options; // name without dashes -> value ("" for a flag)
    QStringList positionals;
    bool help = false;
    bool version = false;
};

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

// The values of the ramp options, checked and ready for the ramp builder.
struct RampTexts {
    QString step;
    QString rate;
    QString stop;
};

class CommandBuilder {
public:
    CommandBuilder(const Tokens &tokens, QString clockText, double clockMHz)
        : m_tokens(tokens)
        , m_clockText(std::move(clockText))
        , m_clockMHz(clockMHz)
    {
    }

    Checked<QList<link::Datagram>> build()
    {
        QStringList arguments = m_tokens.positionals;
        if (arguments.isEmpty())
            return Failure{QStringLiteral("no command given") + kSeeHelp};
        QString command = arguments.takeFirst();
        if (command == QLatin1String("seq")) {
            if (arguments.isEmpty())
                return Failure{QStringLiteral("seq needs one of clear, add-freq, add-ramp, add-wait, execute, "
                                              "restart")
                               + kSeeHelp};
            command += QLatin1Char(' ') + arguments.takeFirst();
        }
        m_command = command;
        m_arguments = arguments;

        if (const auto wrongOption = optionNotFor(command))
            return Failure{QStringLiteral("--%1 does not go with %2").arg(*wrongOption, command) + kSeeHelp};

        if (command == QLatin1String("freq"))
            return frequency();
        if (command == QLatin1String("ramp"))
            return rampStart();
        if (command == QLatin1String("ramp-stop"))
            return fixed(link::rampStopCommand());
        if (command == QLatin1String("polarity"))
            return polarity();
        if (command == QLatin1String("power"))
            return power();
        if (command == QLatin1String("gain"))
            return gain();
        if (command == QLatin1String("contrast"))
            return contrast();
        if (command == QLatin1String("dds-reg"))
            return fixed(link::registerDumpCommand());
        if (command == QLatin1String("heartbeat"))
            return fixed(link::heartbeatCommand());
        if (command == QLatin1String("seq clear"))
            return fixed(link::sequenceClearCommand());
        if (command == QLatin1String("seq add-freq"))
            return sequenceFrequency();
        if (command == QLatin1String("seq add-ramp"))
            return sequenceRamp();
        if (command == QLatin1String("seq add-wait"))
            return fixed(link::sequenceAdd(link::adwinWaitCommand()));
        if (command == QLatin1String("seq execute"))
            return fixed(link::sequenceExecuteCommand());
        if (command == QLatin1String("seq restart"))
            return fixed(link::sequenceRestartCommand());
        if (command.startsWith(QLatin1String("seq ")))
            return Failure{QStringLiteral("seq: unknown subcommand \"%1\"").arg(command.mid(4)) + kSeeHelp};
        return Failure{QStringLiteral("unknown command \"%1\"").arg(command) + kSeeHelp};
    }

private:
    // An option that only some commands take, given with another one.
    std::optional<QString> optionNotFor(const QString &command) const
    {
        const bool takesPolarity = command == QLatin1String("freq") || command == QLatin1String("ramp");
        const bool takesRamp = command == QLatin1String("ramp") || command == QLatin1String("seq add-ramp");
        if (!takesPolarity && m_tokens.options.contains(QStringLiteral("polarity")))
            return QStringLiteral("polarity");
        for (const char *name : {"step", "rate", "stop"})
            if (!takesRamp && m_tokens.options.contains(QLatin1String(name)))
                return QLatin1String(name);
        return std::nullopt;
    }

    // Exactly `count` values after the command.
    std::optional<Failure> expectValues(int count, const QString &what) const
    {
        if (m_arguments.size() < count)
            return Failure{QStringLiteral("%1 needs %2").arg(m_command, what) + kSeeHelp};
        if (m_arguments.size() > count)
            return Failure{QStringLiteral("%1: unexpected argument \"%2\"").arg(m_command, m_arguments.at(count))
                           + kSeeHelp};
        return std::nullopt;
    }

    Checked<QList<link::Datagram>> fixed(const link::Datagram &datagram) const
    {
        if (const auto failure = expectValues(0, {}))
            return *failure;
        return QList<link::Datagram>{datagram};
    }

    // Polarity index as the panel's options number them: 0 "+", 1 "--".
    static Checked<int> polarityIndex(const QString &name, const QString &text)
    {
        if (text == QLatin1String("+"))
            return 0;
        if (text == QLatin1String("-") || text == QLatin1String("--"))
            return 1;
        return Failure{QStringLiteral("%1: \"%2\" is neither + nor -").arg(name, text)};
    }

    // The polarity command that follows a frequency or a ramp start, as the
    // panel's polarity repeat sends it; nothing without --polarity.
    Checked<QList<link::Datagram>> withPolarity(const link::Datagram &datagram) const
    {
        QList<link::Datagram> datagrams{datagram};
        const auto polarity = m_tokens.options.constFind(QStringLiteral("polarity"));
        if (polarity == m_tokens.options.constEnd())
            return datagrams;
        const auto index = polarityIndex(QStringLiteral("--polarity"), *polarity);
        if (!index)
            return Failure{index.error};
        datagrams.append(*link::polarityCommand(*index));
        return datagrams;
    }

    Checked<link::Datagram> frequencyCommand()
    {
        if (const auto failure = expectValues(1, QStringLiteral("a frequency in MHz")))
            return *failure;
        const auto text = frequencyText(m_command, m_arguments.at(0), m_clockMHz);
        if (!text)
            return Failure{text.error};
        const auto datagram = rules::buildFrequencyCommand(*text, m_clockText);
        if (!datagram)
            return Failure{QStringLiteral("%1: %2 MHz cannot be sent").arg(m_command, *text)};
        return *datagram;
    }

    Checked<link::Datagram> rampCommand()
    {
        if (const auto failure = expectValues(0, {}))
            return *failure;
        RampTexts texts;
        const struct {
            const char *name;
            QString *text;
        } options[] = {{"step", &texts.step}, {"rate", &texts.rate}, {"stop", &texts.stop}};
        for (const auto &option : options) {
            const auto value = m_tokens.options.constFind(QLatin1String(option.name));
            if (value == m_tokens.options.constEnd())
                return Failure{QStringLiteral("%1: --%2 is missing").arg(m_command, QLatin1String(option.name))
                               + kSeeHelp};
            *option.text = *value;
        }
        if (const auto step = wholeNumberIn(QStringLiteral("--step"), texts.step, 0, unit::kMaxStep); !step)
            return Failure{step.error};
        if (const auto rate = wholeNumberIn(QStringLiteral("--rate"), texts.rate, 0, unit::kMaxRate); !rate)
            return Failure{rate.error};
        if (const auto stop = frequencyText(QStringLiteral("--stop"), texts.stop, m_clockMHz); !stop)
            return Failure{stop.error};
        const auto datagram = rules::buildRampStartCommand(texts.step, texts.rate, texts.stop, m_clockText);
        if (!datagram)
            return Failure{QStringLiteral("%1: the ramp cannot be sent").arg(m_command)};
        return *datagram;
    }

    Checked<QList<link::Datagram>> frequency()
    {
        const auto command = frequencyCommand();
        if (!command)
            return Failure{command.error};
        return withPolarity(*command);
    }

    Checked<QList<link::Datagram>> rampStart()
    {
        const auto command = rampCommand();
        if (!command)
            return Failure{command.error};
        return withPolarity(*command);
    }

    Checked<QList<link::Datagram>> sequenceFrequency()
    {
        const auto command = frequencyCommand();
        if (!command)
            return Failure{command.error};
        return QList<link::Datagram>{link::sequenceAdd(*command)};
    }

    Checked<QList<link::Datagram>> sequenceRamp()
    {
        const auto command = rampCommand();
        if (!command)
            return Failure{command.error};
        return QList<link::Datagram>{link::sequenceAdd(*command)};
    }

    Checked<QList<link::Datagram>> polarity()
    {
        if (const auto failure = expectValues(1, QStringLiteral("+ or -")))
            return *failure;
        const auto index = polarityIndex(m_command, m_arguments.at(0));
        if (!index)
            return Failure{index.error};
        return QList<link::Datagram>{*link::polarityCommand(*index)};
    }

    Checked<QList<link::Datagram>> power()
    {
        if (const auto failure = expectValues(1, QStringLiteral("on or off")))
            return *failure;
        const QString &state = m_arguments.at(0);
        // The panel's options: index 0 "On", index 1 "Off".
        if (state == QLatin1String("on"))
            return QList<link::Datagram>{link::powerCommand(0)};
        if (state == QLatin1String("off"))
            return QList<link::Datagram>{link::powerCommand(1)};
        return Failure{QStringLiteral("%1: \"%2\" is neither on nor off").arg(m_command, state)};
    }

    Checked<QList<link::Datagram>> gain()
    {
        if (const auto failure = expectValues(1, QStringLiteral("a value 0..7")))
            return *failure;
        const auto position = wholeNumberIn(m_command, m_arguments.at(0), 0, unit::kGainMax);
        if (!position)
            return Failure{position.error};
        return QList<link::Datagram>{*link::gainCommand(static_cast<int>(*position))};
    }

    Checked<QList<link::Datagram>> contrast()
    {
        if (const auto failure = expectValues(1, QStringLiteral("a value 0..99")))
            return *failure;
        const auto value = wholeNumberIn(m_command, m_arguments.at(0), 0, unit::kContrastMax);
        if (!value)
            return Failure{value.error};
        return QList<link::Datagram>{*link::contrastCommand(static_cast<int>(*value))};
    }

    const Tokens &m_tokens;
    const QString m_clockText;
    const double m_clockMHz;
    QString m_command;
    QStringList m_arguments;
};

} // namespace

ParseResult parseCommandLine(const QStringList &arguments)
{
    const auto tokens = tokenize(arguments);
    if (!tokens)
        return {std::nullopt, tokens.error};

    Plan plan;
    if (tokens->help) {
        plan.action = Plan::Action::Help;
        return {plan, {}};
    }
    if (tokens->version) {
        plan.action = Plan::Action::Version;
        return {plan, {}};
    }

    const QMap<QString, QString> &options = tokens->options;
    plan.dryRun = options.contains(QStringLiteral("dry-run"));
    plan.verbose = options.contains(QStringLiteral("verbose"));

    if (const auto host = options.constFind(QStringLiteral("host")); host != options.constEnd()) {
        plan.host = link::parseDottedQuad(*host);
        if (!plan.host)
            return {std::nullopt,
                    QStringLiteral("--host: \"%1\" is not a dotted IPv4 address such as 192.168.1.133").arg(*host)};
    }
    if (const auto port = options.constFind(QStringLiteral("port")); port != options.constEnd()) {
        const auto value = wholeNumberIn(QStringLiteral("--port"), *port, 1, 65535);
        if (!value)
            return {std::nullopt, value.error};
        plan.port = static_cast<quint16>(*value);
    }
    const QString clockText = options.value(QStringLiteral("sysclk"), kDefaultClock);
    const auto clockMHz = numberIn(QStringLiteral("--sysclk"), clockText, 100, 1000, QStringLiteral(" MHz"));
    if (!clockMHz)
        return {std::nullopt, clockMHz.error};
    if (const auto wait = options.constFind(QStringLiteral("listen")); wait != options.constEnd()) {
        const auto seconds = numberIn(QStringLiteral("--listen"), *wait, 0, 3600, QStringLiteral(" seconds"));
        if (!seconds)
            return {std::nullopt, seconds.error};
        if (plan.dryRun)
            return {std::nullopt, QStringLiteral("--listen has nothing to wait for with --dry-run") + kSeeHelp};
        plan.listenSeconds = *seconds;
    }

    CommandBuilder builder(*tokens, clockText, *clockMHz);
    const auto datagrams = builder.build();
    if (!datagrams)
        return {std::nullopt, datagrams.error};
    plan.datagrams = *datagrams;
    return {plan, {}};
}

DefaultHost defaultHost()
{
    // The panel's own store: where the panel keeps the address between runs.
#ifdef Q_OS_WIN
    const settings::RegistryStore store{};
#else
    const settings::FileStore store{};
#endif
    const settings::ReadResult stored = store.read(settings::names::IpAddress);
    if (stored.found) {
        if (const auto address = link::parseDottedQuad(stored.text.trimmed()))
            return {*address, QStringLiteral("the panel's stored IP Address")};
        return {QHostAddress(kDefaultHost),
                QStringLiteral("the default; the panel's stored IP Address \"%1\" is no dotted quad")
                    .arg(stored.text)};
    }
    return {QHostAddress(kDefaultHost), QStringLiteral("the default; the panel has no stored IP Address")};
}

QString helpText()
{
    return QStringLiteral(R"(Usage: veloxa2-ctl [OPTIONS] COMMAND [ARGS]

Sends commands to a Veloxa2 laser frequency-offset unit over UDP, one datagram
per command, byte for byte as the Veloxa2 GUI panel sends them. Values are
checked against the ranges the panel allows; a bad value sends nothing.

Commands:
  freq MHZ [--polarity +|-]
        DDS frequency in MHz, at most half the system clock either way (the
        unit gets the magnitude). With --polarity the polarity command
        follows, as after the panel's Update button.
  ramp --step N --rate N --stop MHZ [--polarity +|-]
        Start a ramp: step 0..4294967295 FTW units, rate 0..65535 periods of
        four clock cycles per step, stop frequency in MHz (at most half the
        system clock either way). --polarity as for freq.
  ramp-stop             Stop the ramp.
  polarity +|-          Tuned laser above (+) or below (-, also --) the
                        reference laser.
  power on|off          DDS power.
  gain 0..7             Gain, the charge-pump current.
  contrast 0..99        Contrast of the unit's display.
  dds-reg               Ask the unit to show its DDS registers.
  heartbeat             One heartbeat.
  seq clear             Clear the command sequence held by the unit.
  seq add-freq MHZ      Add a frequency to the sequence.
  seq add-ramp --step N --rate N --stop MHZ
                        Add a ramp to the sequence.
  seq add-wait          Add a wait for the ADwin trigger to the sequence.
  seq execute           Run the sequence.
  seq restart           Restart the sequence.

Options (anywhere on the line, as --name VALUE or --name=VALUE):
  --host H          The unit's IPv4 address, a dotted quad. Default: the IP
                    Address the panel has stored, else 192.168.1.133.
  --port P          UDP port 1..65535 (default 37829).
  --sysclk MHZ      System clock 100..1000 MHz (default 1000), for the tuning
                    words of freq, ramp, seq add-freq and seq add-ramp.
  --dry-run         Print each datagram in hex with what it means, one line
                    each, and send nothing.
  --listen SECONDS  After sending, wait SECONDS (0..3600) and print one line
                    per datagram that arrives (sender, size, bytes in hex).
  --verbose         Print the destination and each datagram as it goes.
  -h, --help        Print this text.
  --version         Print the version.

Numbers are read as a whole: 12.5 and 1e3 are numbers, 12abc is not. A
negative number is written as it stands: freq -12.34.

Exit status: 0 when everything was sent, 1 when a send failed (the rest is
not sent), 2 for a bad command line (nothing is sent).

Examples:
  veloxa2-ctl --dry-run freq 12.34 --polarity +
  veloxa2-ctl --host 192.168.1.133 freq 12.34 --polarity -
  veloxa2-ctl --sysclk 500 ramp --step 1000 --rate 10 --stop 150
  veloxa2-ctl seq clear
  veloxa2-ctl seq add-freq 10
  veloxa2-ctl seq add-wait
  veloxa2-ctl seq add-ramp --step 1 --rate 1 --stop 15
  veloxa2-ctl seq execute
  veloxa2-ctl --listen 2 heartbeat
)");
}

} // namespace veloxa::ctl
