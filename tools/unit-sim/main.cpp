// veloxa2-unit-sim: a simulated unit on UDP for trying the panel without the
// hardware. Every datagram is decoded and logged as one line on stdout and
// answered to its sender, so the panel sees the unit as heard.

#include "core/link/udp_channel.h"
#include "core/unit/limits.h"
#include "unit_sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cmath>
#include <cstdio>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitBind = 1;

void writeLine(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream); // one line at a time: a reader must see each datagram as it comes
}

void out(const QString &line)
{
    writeLine(stdout, line);
}
void err(const QString &line)
{
    writeLine(stderr, line);
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT become a byte on a socket pair, read in the event loop,
// so the program ends through QCoreApplication::quit and prints its state.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

bool installQuitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        notifier->setEnabled(false);
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}
#else
// Elsewhere Ctrl+C ends the program at once; every line is already written.
bool installQuitOnSignals(QCoreApplication &)
{
    return true;
}
#endif

std::optional<QHostAddress> parseBindAddress(const QString &text)
{
    if (const auto ipv4 = veloxa::link::parseDottedQuad(text))
        return ipv4;
    if (text.contains(QLatin1Char(':'))) { // an IPv6 literal
        QHostAddress address;
        if (address.setAddress(text.trimmed()) && address.protocol() == QAbstractSocket::IPv6Protocol)
            return address;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veloxa2-unit-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated Veloxa2 unit on UDP. Logs every datagram as the command it is, one line on stdout,\n"
        "keeps the settings the commands imply, and answers each datagram to its sender\n"
        "(\"ok\" and the opcode byte, or \"no\" and the first byte for a malformed one)."));
    parser.addHelpOption();
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("UDP port to listen on, 0 for any free one (default %1).").arg(veloxa::unit::kPort),
        QStringLiteral("N"), QString::number(veloxa::unit::kPort));
    const QCommandLineOption silentOption(QStringLiteral("silent"), QStringLiteral("Never answer."));
    const QCommandLineOption silentAfterOption(
        QStringLiteral("silent-after"),
        QStringLiteral("Answer only during the first SECONDS after start, then stop answering (logging goes on)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print the unit's state after every datagram."));
    const QCommandLineOption stateOnExitOption(QStringLiteral("state-on-exit"),
                                               QStringLiteral("Print the unit's state when ending."));
    parser.addOptions({bindOption, portOption, silentOption, silentAfterOption, verboseOption, stateOnExitOption});
    parser.process(app); // --help and unknown options end here

    const auto usageError = [](const QString &message) {
        err(QStringLiteral("veloxa2-unit-sim: %1").arg(message));
        return kExitUsage;
    };

    veloxa::sim::SimOptions options;
    const auto address = parseBindAddress(parser.value(bindOption));
    if (!address)
        return usageError(
            QStringLiteral("--bind needs an IPv4 address such as 127.0.0.1, got \"%1\"").arg(parser.value(bindOption)));
    options.address = *address;

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return usageError(QStringLiteral("--port needs a number 0 to 65535, got \"%1\"").arg(parser.value(portOption)));
    options.port = static_cast<quint16>(port);

    if (parser.isSet(silentOption) && parser.isSet(silentAfterOption))
        return usageError(QStringLiteral("--silent and --silent-after exclude each other"));
    if (parser.isSet(silentOption))
        options.answerWindow = std::chrono::milliseconds(0);
    if (parser.isSet(silentAfterOption)) {
        bool secondsOk = false;
        const double seconds = parser.value(silentAfterOption).toDouble(&secondsOk);
        if (!secondsOk || !std::isfinite(seconds) || seconds < 0 || seconds > 86400.0 * 365)
            return usageError(QStringLiteral("--silent-after needs a number of seconds, got \"%1\"")
                                  .arg(parser.value(silentAfterOption)));
        options.answerWindow = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    }
    options.verbose = parser.isSet(verboseOption);

    if (!installQuitOnSignals(app))
        err(QStringLiteral("veloxa2-unit-sim: cannot catch SIGTERM/SIGINT, ending on them without the state"));

    veloxa::sim::UnitSim sim(options, out, err);
    if (!sim.start()) {
        err(QStringLiteral("veloxa2-unit-sim: cannot bind %1: %2")
                .arg(veloxa::sim::endpoint(options.address, options.port), sim.errorString()));
        return kExitBind;
    }

    app.exec();
    if (parser.isSet(stateOnExitOption))
        out(sim.state().summary());
    return 0;
}
