#include "support/unit_sim.h"

#include "support/panel_process.h"

namespace veloxa::test {

UnitSim::UnitSim()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] { take(); });
}

UnitSim::~UnitSim()
{
    stopPolitely(m_process);
}

bool UnitSim::start(const QString &program, const QString &address, quint16 port, const QStringList &arguments,
                    int waitMs)
{
    m_process.start(program,
                    QStringList{QStringLiteral("--bind"), address, QStringLiteral("--port"), QString::number(port)}
                        + arguments);
    m_clock.start();
    const QString listening = QStringLiteral("listening on %1:%2").arg(address).arg(port);
    while (!m_lines.contains(listening) && m_clock.elapsed() < waitMs) {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100); // take() runs on what it reads
    }
    return m_lines.contains(listening);
}

void UnitSim::collect()
{
    while (m_process.waitForReadyRead(0)) { // take() runs on what each read brings
    }
    take();
}

bool UnitSim::waitForLine(const QString &line, int timeoutMs, int occurrence)
{
    return QTest::qWaitFor([&] { return m_lines.count(line) >= occurrence; }, timeoutMs);
}

bool UnitSim::waitForExit(int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs))
        return false;
    collect();
    return true;
}

void UnitSim::take()
{
    m_partial += m_process.readAllStandardOutput();
    const qint64 now = m_clock.elapsed();
    for (qsizetype end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n')) {
        m_lines << QString::fromUtf8(m_partial.left(end)).trimmed();
        m_lineMs << now;
        m_partial.remove(0, end + 1);
    }
}

} // namespace veloxa::test
