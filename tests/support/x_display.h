#pragma once
// A virtual X display (Xvfb, 800x600 at 96 dpi, no TCP) for the tests and
// benchmarks that run the built panel on a real display, and the environment
// to start it there.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QTest>

namespace veloxa::test {

class VirtualDisplay {
public:
    // What the server does when its last client leaves: reset (as a plain
    // Xvfb does), or carry on, so that a program started right after one that
    // ended does not wait for the reset.
    enum class Reset { WhenLastClientLeaves, Never };

    static bool available();

    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    // Starts the server; false when it told no display number in time.
    bool start(int timeoutMs = 20000, Reset reset = Reset::WhenLastClientLeaves);

    const QString &name() const { return m_name; }

    // `base` with the panel on this display: the xcb platform, Qt's generic
    // theme and no scaling of its own, so that the window has its design size.
    QProcessEnvironment environment(QProcessEnvironment base) const;

private:
    QProcess m_server;
    QString m_name;
};

} // namespace veloxa::test
