#include "support/x_display.h"

#include <QStandardPaths>
#include <QTest>

namespace veloxa::test {

bool VirtualDisplay::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty();
}

VirtualDisplay::~VirtualDisplay()
{
    m_server.terminate();
    m_server.waitForFinished(5000);
}

bool VirtualDisplay::start(int timeoutMs, Reset reset)
{
    QStringList arguments = {QStringLiteral("-displayfd"), QStringLiteral("1"),       QStringLiteral("-nolisten"),
                             QStringLiteral("tcp"),        QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("800x600x24"), QStringLiteral("-dpi"),    QStringLiteral("96")};
    if (reset == Reset::Never)
        arguments << QStringLiteral("-noreset");
    m_server.start(QStringLiteral("Xvfb"), arguments);
    if (!QTest::qWaitFor([this] { return m_server.canReadLine(); }, timeoutMs))
        return false;
    m_name = QLatin1Char(':') + QString::fromLatin1(m_server.readLine()).trimmed();
    return m_name.size() > 1;
}

QProcessEnvironment VirtualDisplay::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), m_name);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    base.insert(QStringLiteral("QT_QPA_PLATFORMTHEME"), QStringLiteral("generic"));
    base.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
    return base;
}

} // namespace veloxa::test
