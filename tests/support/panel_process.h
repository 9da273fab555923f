#pragma once
// The built panel as a separate process, with settings and runtime folders of
// its own, and a UDP socket playing the unit.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include "support/unit_socket.h"

namespace veloxa::test {

// True when this process runs in a network namespace whose only interface
// is the loopback one: then no datagram can leave the machine.
inline bool isolatedNetwork()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        if (!(interface.flags() & QNetworkInterface::IsLoopBack))
            return false;
    return true;
}

inline bool hasLocalAddress(const QHostAddress &address)
{
    return QNetworkInterface::allAddresses().contains(address);
}

struct PanelEnvironment {
    QTemporaryDir config;
    QTemporaryDir runtime; // created 0700, as the runtime location must be

    QString storePath() const { return config.path() + QStringLiteral("/KW/Veloxa.conf"); }

    void seed(const QMap<QString, QString> &values) const
    {
        QSettings store(storePath(), QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            store.setValue(it.key(), it.value());
    }

    QString stored(const QString &name) const
    {
        return QSettings(storePath(), QSettings::IniFormat).value(name).toString();
    }

    QByteArray storeBytes() const
    {
        QFile file(storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QProcessEnvironment processEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        return environment;
    }

    void start(QProcess &process, const QString &program, const QStringList &arguments = {}) const
    {
        process.setProcessEnvironment(processEnvironment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
    }
};

inline void stopPolitely(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace veloxa::test
