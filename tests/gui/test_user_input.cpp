// What a user's own input does, with real widgets and real focus changes:
// leaving a box for another control runs its focus rule before that
// control's event, switching to another window or opening the box's menu
// does not; Enter on buttons; options selected through the accessibility
// bus; pastes beyond the character limit.

#include "support/panel_harness.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

using namespace veloxa;
using test::PanelHarness;

namespace {

enum class Away { Tab, Backtab, ClickUpdate, OtherWindow, OtherWindowThenClickUpdate, ContextMenu };

} // namespace

class TestUserInput : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PanelHarness> h;

    controls::TextBox *box(const QString &name) const { return h->form->findChild<controls::TextBox *>(name); }

    // The focus leaves the box the way a row of leavingTheBox says: a key,
    // a click on Update, another window (then perhaps a click on Update) or
    // the box's own menu (from a window or the menu it comes back). `typed`
    // is the box's text before.
    void leave(controls::TextBox *textBox, Away away, const QString &typed)
    {
        switch (away) {
        case Away::Tab: QTest::keyClick(textBox, Qt::Key_Tab); break;
        case Away::Backtab: QTest::keyClick(textBox, Qt::Key_Backtab); break;
        case Away::ClickUpdate: clickUpdate(textBox); break;
        case Away::OtherWindow: toOtherWindowAndBack(textBox); break;
        case Away::OtherWindowThenClickUpdate:
            toOtherWindowAndBack(textBox);
            if (!QTest::currentTestFailed())
                clickUpdate(textBox);
            break;
        case Away::ContextMenu: throughContextMenu(textBox, typed); break;
        }
    }

    void clickUpdate(const controls::TextBox *textBox)
    {
        PanelHarness::click(&h->form->controls().cmdUpdateFreq);
        if (textBox != &h->form->controls().txtSysClk)
            return;
        // The update saw the repaired clock: 12.34 MHz at a clock of 100 MHz, not 2.
        QCOMPARE(h->sentHex(), QStringLiteral("A5 00 74 24 97 1F | 70 00"));
    }

    // Another program's window takes the activation, then the panel gets it back.
    void toOtherWindowAndBack(const controls::TextBox *textBox)
    {
        QWidget other;
        other.setWindowTitle(QStringLiteral("another program"));
        other.resize(200, 100);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        h->form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h->form.get()));
        QTRY_VERIFY(textBox->hasFocus());
    }

    // The box's own context menu opens and is closed again; while it is up,
    // the box still holds the text typed.
    static void throughContextMenu(controls::TextBox *textBox, const QString &typed)
    {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, textBox->rect().center(),
                                textBox->mapToGlobal(textBox->rect().center()));
        QApplication::sendEvent(textBox, &event);
        QWidget *menu = QApplication::activePopupWidget();
        const QString whileOpen = textBox->text();
        QVERIFY(menu);
        menu->close();
        QCOMPARE(whileOpen, typed);
        QVERIFY(textBox->hasFocus());
    }

private slots:
    void init()
    {
        h = std::make_unique<PanelHarness>();
        h->startWithoutHeartbeat();
    }
    void cleanup() { h.reset(); }

    void leavingTheBox_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Away>("away");
        QTest::addColumn<QString>("after"); // the box's text once the focus went away (and back)
        QTest::addColumn<QString>("thenTyped"); // typed into the box afterwards, when it still has the focus
        QTest::addColumn<QString>("finally");
        QTest::newRow("clock, Tab") << "txtSysClk" << "2" << Away::Tab << "100" << "" << "100";
        QTest::newRow("clock, Shift+Tab") << "txtSysClk" << "2" << Away::Backtab << "100" << "" << "100";
        QTest::newRow("clock, click on Update") << "txtSysClk" << "2" << Away::ClickUpdate << "100" << "" << "100";
        QTest::newRow("clock, other window") << "txtSysClk" << "2" << Away::OtherWindow << "2" << "50" << "250";
        // Back from another window, a click still repairs the clock before the update reads it.
        QTest::newRow("clock, other window, then click on Update")
            << "txtSysClk" << "2" << Away::OtherWindowThenClickUpdate << "100" << "" << "100";
        QTest::newRow("clock, context menu") << "txtSysClk" << "2" << Away::ContextMenu << "2" << "5" << "25";
        QTest::newRow("rate, click on Update") << "txtRampRate" << "" << Away::ClickUpdate << "0" << "" << "0";
        QTest::newRow("rate, other window") << "txtRampRate" << "" << Away::OtherWindow << "" << "7" << "7";
        QTest::newRow("step, context menu") << "txtRampStep" << "" << Away::ContextMenu << "" << "9" << "9";
    }
    void leavingTheBox()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(Away, away);
        QFETCH(QString, after);
        QFETCH(QString, thenTyped);
        QFETCH(QString, finally);
        controls::TextBox *textBox = box(name);
        QVERIFY(test::typeOver(textBox, typed));
        QCOMPARE(textBox->text(), typed);
        h->clear();

        leave(textBox, away, typed);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(textBox->text(), after);
        QTest::keyClicks(textBox, thenTyped);
        QCOMPARE(textBox->text(), finally);
    }

    void closingKeepsAnUnrepairedText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::newRow("clock below 100") << "txtSysClk" << "2";
        QTest::newRow("empty rate") << "txtRampRate" << "";
    }
    void closingKeepsAnUnrepairedText()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QVERIFY(test::typeOver(box(name), typed));
        h->clear();
        h->form->close();
        QCOMPARE(h->programEnded, 1);
        QCOMPARE(box(name)->text(), typed);
        // The clock is one of the values stored at the end; the rate box is
        // stored only when it changes to a text that is not empty.
        if (name == QLatin1String("txtSysClk"))
            QCOMPARE(h->store.values.value(settings::names::SystemClock), typed);
        for (const auto &[written, text] : h->store.writes)
            QVERIFY2(written != settings::names::RampRate, qPrintable(text));
    }

    void enterOnAFocusedButtonClicksItOnce_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("autoRepeat");
        QTest::addColumn<QString>("sent");
        QTest::newRow("Return") << "cmdRampStop" << int(Qt::Key_Return) << int(Qt::NoModifier) << false << "AB";
        QTest::newRow("keypad Enter") << "cmdDdsReg" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false << "B0";
        QTest::newRow("Shift+Return") << "cmdSeqExecute" << int(Qt::Key_Return) << int(Qt::ShiftModifier) << false
                                      << "C4 00";
        QTest::newRow("Ctrl+Return") << "cmdRampStop" << int(Qt::Key_Return) << int(Qt::ControlModifier) << false << "";
        QTest::newRow("Alt+keypad Enter")
            << "cmdRampStop" << int(Qt::Key_Enter) << int(Qt::KeypadModifier | Qt::AltModifier) << false << "";
        QTest::newRow("Ctrl+M") << "cmdRampStop" << int(Qt::Key_M) << int(Qt::ControlModifier) << false << "";
        QTest::newRow("held key repeats") << "cmdRampStop" << int(Qt::Key_Return) << int(Qt::NoModifier) << true << "";
        QTest::newRow("Space as before") << "cmdSeqRestart" << int(Qt::Key_Space) << int(Qt::NoModifier) << false
                                         << "C5";
    }
    void enterOnAFocusedButtonClicksItOnce()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, autoRepeat);
        QFETCH(QString, sent);
        auto *pushButton = h->form->findChild<QPushButton *>(button);
        QVERIFY(test::moveFocusTo(pushButton));
        QSignalSpy clicks(pushButton, &QPushButton::clicked);
        if (autoRepeat) {
            QTest::sendKeyEvent(QTest::Press, pushButton, Qt::Key(key), QString(), Qt::KeyboardModifiers(modifiers));
            h->clear();
            clicks.clear();
            for (int i = 0; i < 3; ++i) {
                QKeyEvent repeat(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QStringLiteral("\r"), true);
                QApplication::sendEvent(pushButton, &repeat);
            }
        } else {
            QTest::keyClick(pushButton, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        }
        QCOMPARE(h->sentHex(), sent);
        QCOMPARE(clicks.size(), sent.isEmpty() ? 0 : 1);
    }

    void optionSelectedByAccessibilityIsAClick_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("sent");
        QTest::newRow("polarity --") << "optDdsPolarity_1" << "70 01";
        QTest::newRow("power Off") << "optDdsPower_1" << "A0 00";
    }
    void optionSelectedByAccessibilityIsAClick()
    {
        QFETCH(QString, option);
        QFETCH(QString, sent);
        auto *radio = h->form->findChild<QRadioButton *>(option);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(radio);
        QVERIFY(accessible && accessible->actionInterface());
        const QString toggle = QAccessibleActionInterface::toggleAction();
        QVERIFY(accessible->actionInterface()->actionNames().contains(toggle));
        accessible->actionInterface()->doAction(toggle);
        QVERIFY(radio->isChecked());
        QCOMPARE(h->sentHex(), sent);
    }

    void pasteKeepsWhatFits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("selectFrom");
        QTest::addColumn<int>("selectLength"); // 0: the cursor at selectFrom
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        QTest::newRow("rate, at the end") << "txtRampRate" << "1" << 1 << 0 << "23456789" << "12345";
        QTest::newRow("rate, in the middle") << "txtRampRate" << "15" << 1 << 0 << "2349" << "12345";
        QTest::newRow("rate, over a selection") << "txtRampRate" << "1299" << 1 << 2 << "345678" << "13459";
        QTest::newRow("rate, full") << "txtRampRate" << "12345" << 5 << 0 << "6" << "12345";
        QTest::newRow("rate, fits whole") << "txtRampRate" << "1" << 0 << 0 << "23" << "231";
        QTest::newRow("step, at the end") << "txtRampStep" << "1" << 1 << 0 << "23456789012345" << "1234567890";
        QTest::newRow("step, at the start") << "txtRampStep" << "7" << 0 << 0 << "123456789012" << "1234567897";
    }
    void pasteKeepsWhatFits()
    {
        QFETCH(QString, name);
        QFETCH(QString, before);
        QFETCH(int, selectFrom);
        QFETCH(int, selectLength);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        controls::TextBox *textBox = box(name);
        QVERIFY(test::retype(textBox, before));
        if (selectLength > 0)
            textBox->setSelection(selectFrom, selectLength);
        else
            textBox->setCursorPosition(selectFrom);
        QApplication::clipboard()->setText(pasted);
        QSignalSpy changes(textBox, &controls::TextBox::changed);
        QTest::keyClick(textBox, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(textBox->text(), after);
        QCOMPARE(changes.isEmpty(), after == before);
    }

    // Text dragged from another program is refused by every box, also while
    // another box holds the focus with a text its leaving rules have not seen.
    void dropChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"txtIP", "txtPort", "txtFreq", "txtSysClk", "txtRampRate", "txtRampStep", "txtStopFreq"})
            QTest::newRow(name) << name;
    }
    void dropChangesNothing()
    {
        QFETCH(QString, name);
        controls::TextBox *target = box(name);
        QVERIFY(target);
        QVERIFY(test::retype(box(QStringLiteral("txtSysClk")), QStringLiteral("50")));
        h->clear();
        const QString before = target->text();
        QMimeData dragged;
        dragged.setText(QStringLiteral("-600"));
        const QPoint at = target->rect().center();

        QVERIFY(!target->acceptDrops());
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(!enter.isAccepted());
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QVERIFY(!move.isAccepted());
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QVERIFY(!drop.isAccepted());

        QCOMPARE(target->text(), before);
        QCOMPARE(h->channel.attempts, 0);
        QVERIFY(h->store.writes.isEmpty());
    }
};

QTEST_MAIN(TestUserInput)
#include "test_user_input.moc"
