#include "support/panel_process.h"

#include "panel_client.h"

#include <QFile>
#include <QNetworkInterface>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veloxa::test {

QStringList interfacesBesidesLoopback()
{
    QStringList others;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        if (!(interface.flags() & QNetworkInterface::IsLoopBack))
            others << interface.name();
    return others;
}

bool isolatedNetwork()
{
    return interfacesBesidesLoopback().isEmpty();
}

bool hasLocalAddress(const QHostAddress &address)
{
    return QNetworkInterface::allAddresses().contains(address);
}

void PanelEnvironment::seed(const QMap<QString, QString> &values, const QString &unit) const
{
    QSettings store(storePath(unit), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store.setValue(it.key(), it.value());
}

QString PanelEnvironment::stored(const QString &name) const
{
    return QSettings(storePath(), QSettings::IniFormat).value(name).toString();
}

QByteArray PanelEnvironment::storeBytes() const
{
    QFile file(storePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QProcessEnvironment PanelEnvironment::processEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    return environment;
}

void PanelEnvironment::start(QProcess &process, const QString &program, const QStringList &arguments) const
{
    process.setProcessEnvironment(processEnvironment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
}

void PanelEnvironment::start(QProcess &process, const QString &program, const QStringList &arguments,
                             const QString &outputFile) const
{
    process.setProcessEnvironment(processEnvironment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(outputFile);
    process.start(program, arguments);
}

bool PanelEnvironment::openEndpoint(ctl::PanelConnection &client, int waitMs) const
{
    const QString path = endpointPath();
    return QTest::qWaitFor([&] { return client.open(path, 1000); }, waitMs);
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                      const QString &workingDirectory, int timeoutMs)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    run.finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void stopPolitely(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool stillRunning(QProcess &process)
{
    // Without an event loop, a started process stays "Starting" until asked.
    if (process.state() == QProcess::Starting)
        process.waitForStarted();
    return process.state() == QProcess::Running && !process.waitForFinished(0);
}

qint64 statusKiB(qint64 pid, const char *field)
{
    // Plain stdio and a buffer on the stack: a benchmark reads its own
    // resident size with this, which must not grow by the reading.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/status", static_cast<long long>(pid));
    std::FILE *status = std::fopen(path, "re");
    if (!status)
        return -1;
    const std::size_t length = std::strlen(field);
    char line[256];
    qint64 kib = -1;
    while (kib < 0 && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') // "VmRSS:     30112 kB"
            kib = std::strtoll(line + length + 1, nullptr, 10);
    std::fclose(status);
    return kib;
}

} // namespace veloxa::test
