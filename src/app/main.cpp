#include "app/form_main.h"
#include "app/lifecycle.h"
#include "app/single_copy.h"
#include "app/version.h"
#include "link/udp_channel.h"
#ifdef Q_OS_WIN
#include "settings/registry_store_qt.h"
#else
#include "app/polite_end.h"
#include "settings/queued_store.h"
#endif

#include <QApplication>
#include <QLockFile>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veloxa2-gui"));
    QApplication::setApplicationVersion(QLatin1String(veloxa::app::kVersionText));
    QApplication::setStyle(QStringLiteral("Fusion"));

    // Only one copy runs: a second one ends here, before any window, store
    // access or datagram.
    QLockFile singleCopy(veloxa::app::singleCopyLockPath());
    if (!veloxa::app::takeSingleCopyLock(singleCopy))
        return 0;

#ifdef Q_OS_WIN
    veloxa::settings::RegistryStore store;
#else
    // Destroyed after the window: shut-down has handed it the last values.
    veloxa::settings::QueuedStore store;
#endif
    veloxa::link::UdpChannel channel;
    veloxa::link::SteadyClock clock;
    veloxa::app::FormMain form(channel, store, clock);
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
    return QApplication::exec();
}
