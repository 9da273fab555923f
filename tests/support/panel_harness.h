#pragma once
// The real window with its lifecycle, on a channel, a store and a clock of
// the test's choosing: by default a recording channel, a store in memory and
// a fake clock, which is what the widget tests drive. The one panel harness
// of the tests.

#include "core/link/recording_channel.h"
#include "core/settings/memory_store.h"
#include "gui/app/form_main.h"
#include "gui/app/lifecycle.h"
#include "gui/app/link_view.h"
#include "support/bytes.h"
#include "support/fake_clock.h"
#include "support/typing.h"

#include <QApplication>
#include <QTest>

#include <memory>
#include <utility>

namespace veloxa::test {

template <typename ChannelType = link::RecordingChannel, typename StoreType = settings::MemoryStore,
          typename ClockType = FakeClock>
struct Panel {
    ChannelType channel;
    StoreType store;
    ClockType clock;
    std::unique_ptr<app::FormMain> form;
    std::unique_ptr<app::Lifecycle> lifecycle;
    int programEnded = 0;

    // The arguments go to the store.
    template <typename... StoreArguments>
    explicit Panel(StoreArguments &&...storeArguments)
        : store(std::forward<StoreArguments>(storeArguments)...)
    {
        build();
    }

    void build()
    {
        lifecycle.reset();
        form = std::make_unique<app::FormMain>(channel, store, clock);
        lifecycle = std::make_unique<app::Lifecycle>(*form, store, [this] { ++programEnded; });
    }

    const app::PanelControls &controls() const { return form->controls(); }

    // Start-up as the program runs it, then forget what it sent and stored,
    // so a test sees only what its own actions cause.
    void startAndClear()
    {
        lifecycle->startUp();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        clear();
    }

    // Start-up, then the heartbeat timer stopped so that no heartbeat lands
    // among the datagrams a test looks at, with the window active for typing.
    void startWithoutHeartbeat()
    {
        startAndClear();
        if (QTest::currentTestFailed())
            return;
        form->controls().tmrHB.stop();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        clear();
    }

    void clear()
    {
        channel.sent.clear();
        channel.attempts = 0;
        store.writes.clear();
        store.reads.clear();
    }

    QString sentHex() const { return hexList(channel.sent); }

    // Clicks a control the way a user does; a box that had the focus loses it first.
    static void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center()); }
};

using PanelHarness = Panel<>;

} // namespace veloxa::test
