#include "app/lifecycle.h"
#include "app/panel_options.h"
#include "app/single_copy.h"
#include "app/version.h"
#include "core/link/udp_channel.h"
#include "gui/remote/control_endpoint.h"
#include "gui/window/form_main.h"
#ifdef Q_OS_WIN
#include "core/settings/registry_store_qt.h"

#include <windows.h>
#else
#include "app/broker_start.h"
#include "app/polite_end.h"
#include "core/settings/file_store.h"
#include "core/settings/queued_store.h"
#endif

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

// Runs the event loop with what reaches the panel from outside. Scripts may
// drive the running panel through a local endpoint, and a lab's network
// through a broker, only when asked for: without --control no socket or pipe
// exists, without --mqtt no connection.
int runWithRemotes(const veloxa::app::PanelOptions &options, veloxa::window::FormMain &form,
                   veloxa::app::Lifecycle &lifecycle)
{
    std::unique_ptr<veloxa::remote::ControlEndpoint> remote;
    if (options.control || options.broker)
        remote = std::make_unique<veloxa::remote::ControlEndpoint>(form);
    if (options.control) {
        if (const QString problem = remote->open(veloxa::remote::endpointName(options.unit)); !problem.isEmpty())
            std::fprintf(stderr, "veloxa2-gui: no control endpoint: %s\n", qPrintable(problem));
    }
#ifndef Q_OS_WIN
    std::unique_ptr<veloxa::remote::BrokerBridge> bridge;
    if (const auto &address = options.broker)
        bridge = veloxa::app::startBrokerBridge(options, *address, *remote);
    lifecycle.setFirstAtShutDown([&remote, &bridge] {
        if (remote)
            remote->server().close();
        if (bridge)
            bridge->stopCommands();
    });
    const int status = QApplication::exec();
    // After the settings are stored: the broker hears "offline", briefly waited for.
    if (bridge)
        bridge->finish(veloxa::app::kBrokerGoodbyeMs);
    return status;
#else
    if (options.broker)
        std::fprintf(stderr, "veloxa2-gui: this build has no broker bridge; --mqtt is ignored\n");
    lifecycle.setFirstAtShutDown([&remote] {
        if (remote)
            remote->server().close();
    });
    return QApplication::exec();
#endif
}

#ifdef Q_OS_WIN
// Under Wine, Qt's native Windows font engine leaves the text of the boxes
// blank; its FreeType engine, part of the same platform plugin, draws it.
// A platform chosen by the user (QT_QPA_PLATFORM) stays as it is.
void useFreeTypeUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll && ::GetProcAddress(ntdll, "wine_get_version");
    if (wine && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("veloxa2-gui"));
    QCoreApplication::setApplicationVersion(QLatin1String(veloxa::app::kVersionText));
    // The help and the version need no display: they are answered before
    // the window's application exists.
    if (veloxa::app::asksOnlyForText(argc, argv)) {
        const QCoreApplication textOnly(argc, argv);
        return veloxa::app::readPanelOptions(QCoreApplication::arguments()).exitStatus;
    }

#ifdef Q_OS_WIN
    useFreeTypeUnderWine();
#endif
    QApplication application(argc, argv);
    // Qt has taken its own options (-platform, -display, ...): the rest are
    // the panel's, and a wrong one ends it before any window or datagram.
    const veloxa::app::OptionsOutcome options = veloxa::app::readPanelOptions(QApplication::arguments());
    if (!options.run)
        return options.exitStatus;
    QApplication::setStyle(QStringLiteral("Fusion"));

    // Only one copy runs: a second one ends here, before any window, store
    // access or datagram. A panel that cannot tell (no lock can be made in
    // the runtime folder) runs, and says so once.
    veloxa::app::SingleCopy singleCopy;
    const QString &unit = options.run->unit;
    switch (singleCopy.take(veloxa::app::singleCopyLockPath(unit))) {
    case veloxa::app::SingleCopy::Outcome::Only: break;
    case veloxa::app::SingleCopy::Outcome::AnotherRuns: return 0;
    case veloxa::app::SingleCopy::Outcome::Unguarded:
        std::fprintf(stderr, "veloxa2-gui: cannot guard against a second copy (%s)\n",
                     qPrintable(singleCopy.problem()));
        break;
    }

#ifdef Q_OS_WIN
    veloxa::settings::RegistryStore store = veloxa::settings::RegistryStore::forUnit(unit);
#else
    // Destroyed after the window: shut-down has handed it the last values.
    veloxa::settings::QueuedStore store(veloxa::settings::FileStore::userStorePath(unit));
#endif
    veloxa::link::UdpChannel channel;
    veloxa::link::SteadyClock clock;
    veloxa::window::FormMain form(channel, store, clock);
    if (!unit.isEmpty())
        form.setWindowTitle(form.windowTitle() + QStringLiteral(" - ") + unit);
    veloxa::app::Lifecycle lifecycle(form, store, [] { QCoreApplication::quit(); });

#ifndef Q_OS_WIN
    veloxa::app::PoliteEnd politeEnd;
    QObject::connect(&politeEnd, &veloxa::app::PoliteEnd::requested, &form, &QWidget::close);
#endif
    // The desktop session ending asks for the settings first; whatever ends
    // the event loop also stores them. Shut-down runs only once.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &form, &QWidget::close);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&lifecycle] { lifecycle.shutDown(); });

    lifecycle.startUp();

    return runWithRemotes(*options.run, form, lifecycle);
}
