// Helper of test_store_crash: the real window with the real store in
// $XDG_CONFIG_HOME/KW/Veloxa.conf sweeps its contrast slider 0 -> 99 -> 0 ...
// for ever, each step storing "Display Contrast" as the panel does. Prints
// "sweeping" once the first step is stored; the test then kills it at a
// random moment and looks at what the store file holds.
//
// Nothing is sent: the recording channel has no destination.

#include "core/link/recording_channel.h"
#include "core/settings/queued_store.h"
#include "gui/window/form_main.h"
#include "support/fake_clock.h"

#include <QApplication>

#include <cstdio>

using namespace veloxa;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    settings::QueuedStore store;
    link::RecordingChannel channel;
    test::FakeClock clock;
    window::FormMain form(channel, store, clock);
    controls::Slider &contrast = form.controls().sldContrast;

    int value = 0;
    int direction = 1;
    contrast.assign(value);
    if (!store.waitForWrites(20000) || store.read(settings::names::DisplayContrast).text != QString::number(value)) {
        std::fprintf(stderr, "store_sweeper: the first step was not stored in %s\n", qPrintable(store.filePath()));
        return 1;
    }
    std::puts("sweeping");
    std::fflush(stdout);

    for (;;) {
        if (value + direction < contrast.minimum() || value + direction > contrast.maximum())
            direction = -direction;
        value += direction;
        contrast.assign(value);
    }
}
