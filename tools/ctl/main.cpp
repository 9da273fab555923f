// veloxa2-ctl: the panel's commands from the command line, for experiment
// scripts and for checking a link by hand. One run sends one command (a
// frequency or ramp start with its polarity repeat sends two datagrams) from
// one unconnected UDP socket, and can then listen for what comes back.

#include "command_line.h"
#include "output.h"
#include "panel_client.h"
#ifdef VELOXA_HAS_BROKER
#include "broker_panel.h"
#endif

#include "core/link/decoder.h"
#include "core/link/link_log.h"
#include "core/remote/endpoint_path.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <cmath>
#include <cstdio>

using namespace veloxa;
using ctl::err;
using ctl::out;
using ctl::writeText;

namespace {

void printArrivals(QUdpSocket &socket)
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        if (datagram.isValid())
            out(link::arrivalLine(datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()),
                                  datagram.data()));
    }
}

// Prints every datagram that reaches the socket's port until the time is up.
void listen(QUdpSocket &socket, double seconds)
{
    QEventLoop loop;
    QObject::connect(&socket, &QUdpSocket::readyRead, &loop, [&socket] { printArrivals(socket); });
    QTimer::singleShot(static_cast<int>(std::lround(seconds * 1000.0)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    printArrivals(socket); // what came in while the rest was being sent
    loop.exec();
}

int send(const ctl::Plan &plan, const QHostAddress &host)
{
    const QString destination = link::endpointText(host, plan.port);
    QUdpSocket socket; // never connected: it binds itself on the first send and then receives
    for (const link::Datagram &datagram : plan.datagrams) {
        // Judged by the return value: error() would still tell of an earlier failure.
        if (socket.writeDatagram(datagram, host, plan.port) != datagram.size()) {
            err(QStringLiteral("sending to %1 failed: %2 (%3)")
                    .arg(destination, socket.errorString(), link::hexBytes(datagram)));
            return ctl::kExitSendFailed;
        }
        if (plan.verbose)
            out(QStringLiteral("sent to %1: %2").arg(destination, link::datagramLine(datagram)));
    }
    if (plan.listenSeconds)
        listen(socket, *plan.listenSeconds);
    return ctl::kExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veloxa2-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOXA_CTL_VERSION));

    const ctl::ParseResult parsed = ctl::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.plan) {
        err(parsed.error);
        return ctl::kExitUsage;
    }
    const ctl::Plan &plan = *parsed.plan;

    switch (plan.action) {
    case ctl::Plan::Action::Help: writeText(stdout, ctl::helpText()); return ctl::kExitOk;
    case ctl::Plan::Action::Version:
        out(QStringLiteral("veloxa2-ctl ") + QCoreApplication::applicationVersion());
        return ctl::kExitOk;
    case ctl::Plan::Action::Send: break;
    }
#ifdef VELOXA_HAS_BROKER
    if (plan.panel && plan.broker)
        return ctl::runThroughBroker(plan);
#else
    if (plan.broker) {
        err(QStringLiteral("this build has no broker client; --mqtt cannot be used"));
        return ctl::kExitUsage;
    }
#endif
    if (plan.panel)
        return ctl::runOnPanel(*plan.panel, {remote::endpointName(plan.unit), plan.json, plan.verbose});

    const ctl::DefaultHost host =
        plan.host ? ctl::DefaultHost{*plan.host, QStringLiteral("--host")} : ctl::defaultHost(plan.unit);
    if (plan.verbose)
        out(QStringLiteral("destination %1 (%2)").arg(link::endpointText(host.address, plan.port), host.origin));

    if (plan.dryRun) {
        for (const link::Datagram &datagram : plan.datagrams)
            out(link::datagramLine(datagram));
        return ctl::kExitOk;
    }
    return send(plan, host.address);
}
