#pragma once
// The real window with a recording channel, a store in memory and a fake
// clock: what the widget tests drive.

#include "app/form_main.h"
#include "app/link_view.h"
#include "app/lifecycle.h"
#include "link/recording_channel.h"
#include "settings/memory_store.h"
#include "support/bytes.h"
#include "support/fake_clock.h"
#include "support/typing.h"

#include <QApplication>
#include <QTest>

#include <memory>

namespace veloxa::test {

struct PanelHarness {
    link::RecordingChannel channel;
    settings::MemoryStore store;
    FakeClock clock;
    std::unique_ptr<app::FormMain> form;
    std::unique_ptr<app::Lifecycle> lifecycle;
    int programEnded = 0;

    PanelHarness() { build(); }

    void build()
    {
        form = std::make_unique<app::FormMain>(channel, store, clock);
        lifecycle = std::make_unique<app::Lifecycle>(*form, store, [this] { ++programEnded; });
    }

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
        form->tmrHB->stop();
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
    static void click(QWidget *control)
    {
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    }
};

} // namespace veloxa::test
