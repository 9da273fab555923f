#include "sim_options.h"

#include "core/link/udp_channel.h"
#include "core/unit/limits.h"

#include <QCommandLineParser>

#include <cmath>
#include <optional>
#include <random>

namespace veloxa::sim {

namespace {

constexpr double kLongestSeconds = 86400.0 * 365;
constexpr uint kLongestDelayMs = 3600 * 1000;

std::optional<QHostAddress> parseBindAddress(const QString &text)
{
    if (const auto ipv4 = link::parseDottedQuad(text))
        return ipv4;
    if (text.contains(QLatin1Char(':'))) { // an IPv6 literal
        QHostAddress address;
        if (address.setAddress(text.trimmed()) && address.protocol() == QAbstractSocket::IPv6Protocol)
            return address;
    }
    return std::nullopt;
}

// A number of seconds, 0 up to a year, as whole milliseconds.
std::optional<std::chrono::milliseconds> parseSeconds(const QString &text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > kLongestSeconds)
        return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

// "ON:OFF", both seconds of at least a millisecond.
std::optional<Flap> parseFlap(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2)
        return std::nullopt;
    const auto on = parseSeconds(parts.at(0));
    const auto off = parseSeconds(parts.at(1));
    if (!on || !off || on->count() < 1 || off->count() < 1)
        return std::nullopt;
    return Flap{*on, *off};
}

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption bind{QStringLiteral("bind"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                            QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("UDP port to listen on, 0 for any free one (default %1).").arg(unit::kPort),
                            QStringLiteral("N"), QString::number(unit::kPort)};
    QCommandLineOption silent{QStringLiteral("silent"), QStringLiteral("Never answer.")};
    QCommandLineOption silentAfter{
        QStringLiteral("silent-after"),
        QStringLiteral("Answer only during the first SECONDS after start, then stop answering (logging goes on)."),
        QStringLiteral("SECONDS")};
    QCommandLineOption flap{QStringLiteral("flap"),
                            QStringLiteral("Answer for ON seconds, then stay silent for OFF seconds, over and over "
                                           "from the start (e.g. 20:5); each change is logged."),
                            QStringLiteral("ON:OFF")};
    QCommandLineOption drop{QStringLiteral("drop"),
                            QStringLiteral("Leave out a share P (0 to 1) of the answers, drawn at random for each; "
                                           "a dropped answer is marked on the datagram's line."),
                            QStringLiteral("P")};
    QCommandLineOption seed{
        QStringLiteral("seed"),
        QStringLiteral("Seed of the drops (0 to 4294967295): the same seed drops the same answers. Without it "
                       "a seed is drawn and logged."),
        QStringLiteral("N")};
    QCommandLineOption delay{QStringLiteral("delay"),
                             QStringLiteral("Send every answer MS milliseconds late (0 to 3600000)."),
                             QStringLiteral("MS")};
    QCommandLineOption restartAt{QStringLiteral("restart-at"),
                                 QStringLiteral("At SECONDS after start forget every setting, as after a power "
                                                "cycle, and log it; answers still waiting are lost."),
                                 QStringLiteral("SECONDS")};
    QCommandLineOption verbose{QStringLiteral("verbose"),
                               QStringLiteral("Print the unit's state after every datagram.")};
    QCommandLineOption stateOnExit{QStringLiteral("state-on-exit"),
                                   QStringLiteral("Print the unit's state when ending.")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "A simulated Veloxa2 unit on UDP. Logs every datagram as the command it is, one line on stdout,\n"
            "keeps the settings the commands imply, and answers each datagram to its sender\n"
            "(\"ok\" and the opcode byte, or \"no\" and the first byte for a malformed one).\n"
            "--flap, --drop, --delay and --restart-at play a unit with a bad link or a power cut."));
        parser.addOptions({bind, port, silent, silentAfter, flap, drop, seed, delay, restartAt, verbose, stateOnExit});
    }
};

UsageError needs(const QCommandLineOption &option, const QString &what, const QString &got)
{
    return {QStringLiteral("--%1 needs %2, got \"%3\"").arg(option.names().constFirst(), what, got)};
}

// The answering options: when, how many and how late.
std::optional<UsageError> readAnswering(const Parser &p, SimOptions &options)
{
    const QCommandLineParser &parser = p.parser;
    if (parser.isSet(p.silent) && parser.isSet(p.silentAfter))
        return UsageError{QStringLiteral("--silent and --silent-after exclude each other")};
    if (parser.isSet(p.flap) && (parser.isSet(p.silent) || parser.isSet(p.silentAfter)))
        return UsageError{QStringLiteral("--flap excludes --silent and --silent-after")};
    if (parser.isSet(p.silent))
        options.answerWindow = std::chrono::milliseconds(0);
    if (parser.isSet(p.silentAfter)) {
        options.answerWindow = parseSeconds(parser.value(p.silentAfter));
        if (!options.answerWindow)
            return needs(p.silentAfter, QStringLiteral("a number of seconds"), parser.value(p.silentAfter));
    }
    if (parser.isSet(p.flap)) {
        options.flap = parseFlap(parser.value(p.flap));
        if (!options.flap)
            return needs(p.flap, QStringLiteral("ON:OFF, two numbers of seconds above 0 such as 20:5"),
                         parser.value(p.flap));
    }
    if (parser.isSet(p.drop)) {
        bool ok = false;
        options.dropShare = parser.value(p.drop).toDouble(&ok);
        if (!ok || !(options.dropShare >= 0 && options.dropShare <= 1))
            return needs(p.drop, QStringLiteral("a share from 0 to 1"), parser.value(p.drop));
    }
    if (parser.isSet(p.seed)) {
        bool ok = false;
        options.seed = parser.value(p.seed).toUInt(&ok, 10);
        if (!ok)
            return needs(p.seed, QStringLiteral("a whole number 0 to 4294967295"), parser.value(p.seed));
    } else {
        options.seed = std::random_device{}();
    }
    if (parser.isSet(p.delay)) {
        bool ok = false;
        const uint delayMs = parser.value(p.delay).toUInt(&ok, 10);
        if (!ok || delayMs > kLongestDelayMs)
            return needs(p.delay, QStringLiteral("a whole number of milliseconds 0 to 3600000"), parser.value(p.delay));
        options.delay = std::chrono::milliseconds(delayMs);
    }
    if (parser.isSet(p.restartAt)) {
        options.restartAt = parseSeconds(parser.value(p.restartAt));
        if (!options.restartAt)
            return needs(p.restartAt, QStringLiteral("a number of seconds"), parser.value(p.restartAt));
    }
    return std::nullopt;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    Parser p;
    if (!p.parser.parse(arguments))
        return UsageError{p.parser.errorText()};
    if (p.parser.isSet(p.help))
        return ShowText{p.parser.helpText()};
    if (!p.parser.positionalArguments().isEmpty())
        return UsageError{QStringLiteral("takes no arguments besides options, got \"%1\"")
                              .arg(p.parser.positionalArguments().constFirst())};

    SimArguments result;
    SimOptions &options = result.options;
    const auto address = parseBindAddress(p.parser.value(p.bind));
    if (!address)
        return UsageError{
            QStringLiteral("--bind needs an IPv4 address such as 127.0.0.1, got \"%1\"").arg(p.parser.value(p.bind))};
    options.address = *address;

    bool portOk = false;
    const uint port = p.parser.value(p.port).toUInt(&portOk);
    if (!portOk || port > 65535)
        return needs(p.port, QStringLiteral("a number 0 to 65535"), p.parser.value(p.port));
    options.port = static_cast<quint16>(port);

    if (auto error = readAnswering(p, options))
        return *error;
    options.verbose = p.parser.isSet(p.verbose);
    result.stateOnExit = p.parser.isSet(p.stateOnExit);
    return result;
}

} // namespace veloxa::sim
