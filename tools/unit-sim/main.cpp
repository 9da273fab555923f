// veloxa2-unit-sim: a simulated unit on UDP for trying the panel without the
// hardware. Every datagram is decoded and logged as one line on stdout and
// answered to its sender, so the panel sees the unit as heard.

#include "sim_options.h"
#include "unit_sim.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <variant>

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veloxa2-unit-sim"));

    const veloxa::sim::ParsedArguments parsed = veloxa::sim::parseArguments(QCoreApplication::arguments());
    if (const auto *help = std::get_if<veloxa::sim::ShowText>(&parsed)) {
        std::fputs(qPrintable(help->text), stdout);
        return 0;
    }
    const auto *arguments = std::get_if<veloxa::sim::SimArguments>(&parsed);
    if (!arguments) {
        err(QStringLiteral("veloxa2-unit-sim: %1").arg(std::get_if<veloxa::sim::UsageError>(&parsed)->message));
        return kExitUsage;
    }
    const veloxa::sim::SimOptions &options = arguments->options;

    if (!installQuitOnSignals(app))
        err(QStringLiteral("veloxa2-unit-sim: cannot catch SIGTERM/SIGINT, ending on them without the state"));

    veloxa::sim::UnitSim sim(options, out, err);
    if (!sim.start()) {
        err(QStringLiteral("veloxa2-unit-sim: cannot bind %1: %2")
                .arg(veloxa::sim::endpoint(options.address, options.port), sim.errorString()));
        return kExitBind;
    }

    app.exec();
    if (arguments->stateOnExit)
        out(sim.state().summary());
    return 0;
}
