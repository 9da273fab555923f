#pragma once
// The built simulated unit (veloxa2-unit-sim) as a process: started on an
// address and a port, its output lines kept as they come, each with the time
// it was read.

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QStringList>

namespace veloxa::test {

class UnitSim {
public:
    UnitSim();
    ~UnitSim(); // stopped politely, however the caller ends
    UnitSim(const UnitSim &) = delete;
    UnitSim &operator=(const UnitSim &) = delete;

    // Starts `program` (VELOXA_SIM_PATH) bound to address:port with the
    // further arguments; true once it says it listens there, within waitMs.
    bool start(const QString &program, const QString &address, quint16 port, const QStringList &arguments = {},
               int waitMs = 10000);

    // Takes in what it has written so far: for a caller whose event loop
    // does not run (with one running, lines come in by themselves).
    void collect();

    // Waits, with the event loop turning, until the output holds `line` for
    // the `occurrence`-th time.
    bool waitForLine(const QString &line, int timeoutMs = 10000, int occurrence = 1);
    // Waits for the end and takes in the last of the output.
    bool waitForExit(int timeoutMs = 10000);

    // The lines so far, without their line ends.
    const QStringList &lines() const { return m_lines; }
    QString output() const { return m_lines.join(QLatin1Char('\n')); }
    // When each of lines() was read, in ms of clock().
    const QList<qint64> &lineMs() const { return m_lineMs; }
    // Started with the simulator.
    const QElapsedTimer &clock() const { return m_clock; }
    QProcess &process() { return m_process; }

private:
    void take(); // the whole lines QProcess has read so far

    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_partial;
    QStringList m_lines;
    QList<qint64> m_lineMs;
};

} // namespace veloxa::test
