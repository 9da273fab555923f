#pragma once
// The built panel as a separate process, with settings and runtime folders of
// its own, a UDP socket playing the unit, and its control endpoint. The tests
// and the benchmarks start the panel with these.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include "support/unit_socket.h"

namespace veloxa::ctl {
class PanelConnection; // tools/ctl/panel_client.h
} // namespace veloxa::ctl

namespace veloxa::test {

// True when this process runs in a network namespace whose only interface
// is the loopback one: then no datagram can leave the machine.
bool isolatedNetwork();
// The names of the interfaces that are not the loopback one (empty when isolated).
QStringList interfacesBesidesLoopback();

bool hasLocalAddress(const QHostAddress &address);

struct PanelEnvironment {
    QTemporaryDir config;
    QTemporaryDir runtime; // created 0700, as the runtime location must be

    // The store of the panel, or of the panel started with --unit `unit`.
    QString storePath(const QString &unit = {}) const
    {
        return config.path() + QStringLiteral("/KW/Veloxa") + (unit.isEmpty() ? QString() : QLatin1Char('-') + unit)
            + QStringLiteral(".conf");
    }
    // Where the panel started here with --control opens its endpoint.
    QString endpointPath() const { return runtime.path() + QStringLiteral("/veloxa2-gui/control"); }

    // The store file holding these values, as the panel writes them.
    void seed(const QMap<QString, QString> &values, const QString &unit = {}) const;
    QString stored(const QString &name) const;
    QByteArray storeBytes() const;

    // This process's environment with the offscreen platform and the two folders.
    QProcessEnvironment processEnvironment() const;

    // The program in this environment; its stderr goes to the test's.
    void start(QProcess &process, const QString &program, const QStringList &arguments = {}) const;
    // The program in this environment, reading nothing, its stdout and
    // stderr going to `outputFile`: for a caller that never reads them.
    void start(QProcess &process, const QString &program, const QStringList &arguments,
               const QString &outputFile) const;

    // Connects `client` to the endpoint once the panel has opened it, trying
    // again until waitMs have passed.
    bool openEndpoint(ctl::PanelConnection &client, int waitMs = 15000) const;
};

// A program run to its end.
struct ProgramRun {
    bool finished = false; // ended within the time
    int exitCode = -1; // -1 also when it crashed or did not end
    QString out;
    QString err;

    QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // For a failure message.
    QString describe() const { return QStringLiteral("exit %1\n%2\n%3").arg(exitCode).arg(out, err); }
};

// Runs `program` to its end with the event loop turning, so that a FakeUnit
// can answer it meanwhile; killed after timeoutMs. An empty `environment` is
// this process's.
ProgramRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {},
                      const QString &workingDirectory = {}, int timeoutMs = 30000);

// SIGTERM, then up to 10 s for the end (then SIGKILL).
void stopPolitely(QProcess &process);

// A program (mostly the built panel) run in an environment of its own and
// stopped politely when this goes.
struct PanelProcess {
    PanelEnvironment environment;
    QProcess process;

    PanelProcess() = default;
    ~PanelProcess() { stopPolitely(process); }
    PanelProcess(const PanelProcess &) = delete;
    PanelProcess &operator=(const PanelProcess &) = delete;

    qint64 pid() const { return process.processId(); }
};

// Whether the process still runs, also for a caller whose event loop does
// not run (the end is noticed here).
bool stillRunning(QProcess &process);

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when unknown.
qint64 statusKiB(qint64 pid, const char *field);

} // namespace veloxa::test
