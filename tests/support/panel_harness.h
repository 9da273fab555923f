#pragma once
// The real window with its lifecycle, on a channel, a store and a clock of
// the test's choosing: by default a recording channel, a store in memory and
// a fake clock, which is what the widget tests drive. The one panel harness
// of the tests.

#include "app/lifecycle.h"
#include "core/link/recording_channel.h"
#include "core/settings/memory_store.h"
#include "gui/window/form_main.h"
#include "gui/window/link_view.h"
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
    std::unique_ptr<window::FormMain> form;
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
        form = std::make_unique<window::FormMain>(channel, store, clock);
        lifecycle = std::make_unique<app::Lifecycle>(*form, store, [this] { ++programEnded; });
    }

    const window::PanelControls &controls() const { return form->controls(); }

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

    // Types the clock over its selected text (so it is never empty on the
    // way) and leaves it for `next`, so its own rules have run to their end.
    void setClock(const QString &text, QWidget *next)
    {
        QVERIFY(typeOver(&form->controls().txtSysClk, text));
        QVERIFY(moveFocusTo(next));
        QCOMPARE(form->controls().txtSysClk.text(), text);
    }

    // The ramp boxes retyped, then the clock set (unless it is "1000") and
    // left for `next`.
    void typeRampTexts(const QString &rate, const QString &step, const QString &stop, const QString &clockText,
                       QWidget *next)
    {
        QVERIFY(retype(&form->controls().txtRampRate, rate));
        QVERIFY(retype(&form->controls().txtRampStep, step));
        QVERIFY(retype(&form->controls().txtStopFreq, stop));
        if (clockText != QLatin1String("1000"))
            setClock(clockText, next);
    }

    // Clicks a control the way a user does; a box that had the focus loses it first.
    static void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center()); }
};

using PanelHarness = Panel<>;

} // namespace veloxa::test
