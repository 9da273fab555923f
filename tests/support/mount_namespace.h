#pragma once
// The built panel started in a mount namespace of its own (unshare -m, as
// root), where a test may mount small, full or read-only file systems over
// its folders without touching the machine's. A shell there runs the test's
// setup, starts the panel, notes its pid (the same in the test's pid
// namespace, so the test can signal it), waits for it and runs the test's
// closing commands, which copy out what the test wants to look at.

#include "support/panel_process.h"

#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <unistd.h>

namespace veloxa::test {

// Empty when mount namespaces can be had here; else why not, for QSKIP.
inline QString mountNamespaceUnavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root for a mount namespace (scripts/test runs as root)");
    if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        return QStringLiteral("needs unshare");
    return {};
}

struct NamespacedPanel {
    QProcess shell;
    QString pidFile;

    // Runs `setup`, then `launch` (the panel's command line, e.g. with a
    // setpriv in front; default the built panel), then `after`, in one
    // shell inside a new mount namespace. The panel's stderr is kept apart
    // for the test to read.
    void start(const PanelEnvironment &environment, const QString &setup, const QString &after,
               const QString &launch = QStringLiteral(VELOXA_GUI_PATH))
    {
        pidFile = environment.runtime.path() + QStringLiteral(".pid"); // beside it: not under a mount
        QFile::remove(pidFile);
        const QString script = QStringLiteral("set -e\n%1\nset +e\n%2 &\npid=$!\necho $pid > '%3'\nwait $pid\n"
                                              "status=$?\n%4\nexit $status\n")
                                   .arg(setup, launch, pidFile, after);
        shell.setProcessEnvironment(environment.processEnvironment());
        shell.setProcessChannelMode(QProcess::SeparateChannels);
        shell.start(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    }

    // SIGTERM to the panel, then waits for the shell to run its closing commands.
    bool stop(int timeoutMs = 20000)
    {
        QFile file(pidFile);
        const qint64 pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
        const bool ended = shell.waitForFinished(timeoutMs);
        if (!ended) {
            shell.kill();
            shell.waitForFinished(5000);
        }
        QFile::remove(pidFile);
        return ended;
    }

    QByteArray errors() { return shell.readAllStandardError(); }
};

} // namespace veloxa::test
