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

    // The window shown and active without the start-up (nothing sent, no
    // heartbeat), the focus in `box` with the cursor at the end of its text:
    // a window that takes keys and nothing else. False when it was not shown.
    [[nodiscard]] bool showForKeys(QWidget *box)
    {
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        form->activateWindow();
        box->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(box, Qt::Key_End);
        return true;
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

    // The ramp boxes retyped, each keeping its text, then the clock set
    // (unless it is "1000") and left for `next`.
    void typeRampTexts(const QString &rate, const QString &step, const QString &stop, const QString &clockText,
                       QWidget *next)
    {
        const window::PanelControls &c = form->controls();
        for (const auto &[box, text] :
             {std::pair{&c.txtRampRate, rate}, std::pair{&c.txtRampStep, step}, std::pair{&c.txtStopFreq, stop}}) {
            QVERIFY(retype(box, text));
            QCOMPARE(box->text(), text);
        }
        if (clockText != QLatin1String("1000"))
            setClock(clockText, next);
    }

    // The texts of the number boxes, to show what an action left alone.
    QString boxTexts() const
    {
        const window::PanelControls &c = form->controls();
        return QStringList{c.txtFreq.text(), c.txtSysClk.text(), c.txtRampRate.text(), c.txtRampStep.text(),
                           c.txtStopFreq.text()}
            .join(QLatin1Char('|'));
    }

    // Clicks a control the way a user does; a box that had the focus loses it first.
    static void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center()); }
};

using PanelHarness = Panel<>;

} // namespace veloxa::test
