#include "app/lifecycle.h"
#include "app/panel_options.h"
#include "app/single_copy.h"
#include "app/version.h"
#include "core/link/udp_channel.h"
#include "gui/remote/control_endpoint.h"
#include "gui/window/form_main.h"
#ifdef Q_OS_WIN
#include "core/settings/registry_store_qt.h"
#else
#include "app/polite_end.h"
#include "core/settings/queued_store.h"
#endif

#include <QApplication>

#include <cstdio>
#include <memory>

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
    switch (singleCopy.take(veloxa::app::singleCopyLockPath())) {
    case veloxa::app::SingleCopy::Outcome::Only: break;
    case veloxa::app::SingleCopy::Outcome::AnotherRuns: return 0;
    case veloxa::app::SingleCopy::Outcome::Unguarded:
        std::fprintf(stderr, "veloxa2-gui: cannot guard against a second copy (%s)\n",
                     qPrintable(singleCopy.problem()));
        break;
    }

#ifdef Q_OS_WIN
    veloxa::settings::RegistryStore store;
#else
    // Destroyed after the window: shut-down has handed it the last values.
    veloxa::settings::QueuedStore store;
#endif
    veloxa::link::UdpChannel channel;
    veloxa::link::SteadyClock clock;
    veloxa::window::FormMain form(channel, store, clock);
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

    // Scripts may drive the running panel through a local endpoint, only
    // when asked for; without --control no socket or pipe exists.
    std::unique_ptr<veloxa::remote::ControlEndpoint> endpoint;
    if (options.run->control) {
        endpoint = std::make_unique<veloxa::remote::ControlEndpoint>(form);
        if (const QString problem = endpoint->open(); !problem.isEmpty()) {
            std::fprintf(stderr, "veloxa2-gui: no control endpoint: %s\n", qPrintable(problem));
            endpoint.reset();
        }
    }
    lifecycle.setFirstAtShutDown([&endpoint] { endpoint.reset(); });
    return QApplication::exec();
}
