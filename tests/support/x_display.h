#pragma once
// A virtual X display (Xvfb, 800x600 at 96 dpi, no TCP) for tests that run
// the built panel on a real display, and the environment to start it there.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

namespace veloxa::test {

class VirtualDisplay {
public:
    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty(); }

    ~VirtualDisplay()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }

    // Starts the server; false when it told no display number in time.
    bool start(int timeoutMs = 20000)
    {
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("800x600x24"), QStringLiteral("-dpi"), QStringLiteral("96")});
        if (!QTest::qWaitFor([this] { return m_server.canReadLine(); }, timeoutMs))
            return false;
        m_name = QLatin1Char(':') + QString::fromLatin1(m_server.readLine()).trimmed();
        return m_name.size() > 1;
    }

    const QString &name() const { return m_name; }

    // `base` with the panel on this display: the xcb platform, Qt's generic
    // theme and no scaling of its own, so that the window has its design size.
    QProcessEnvironment environment(QProcessEnvironment base) const
    {
        base.insert(QStringLiteral("DISPLAY"), m_name);
        base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        base.insert(QStringLiteral("QT_QPA_PLATFORMTHEME"), QStringLiteral("generic"));
        base.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
        return base;
    }

private:
    QProcess m_server;
    QString m_name;
};

} // namespace veloxa::test
