// The control endpoint's requests on the real window, without a socket: each
// request against the same action done by a user (or by the program, for an
// assignment) on a second window, with the datagrams both sent and the state
// both windows end in; then the refusals, which change nothing.

#include "core/remote/json_rpc.h"
#include "gui/remote/control_endpoint.h"
#include "gui/remote/control_session.h"
#include "gui/remote/panel_events.h"
#include "gui/remote/panel_operations.h"
#include "gui/window/link_view.h"
#include "support/panel_harness.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <functional>

using namespace veloxa;

namespace {

using UserAction = std::function<void(test::PanelHarness &)>;

QJsonObject answerTo(remote::ControlSession &session, const QByteArray &line)
{
    const QByteArray answer = session.receive(line + '\n');
    return QJsonDocument::fromJson(answer).object();
}

QByteArray request(const char *method, const QJsonObject &params)
{
    return remote::requestLine(7, QLatin1String(method), params).trimmed();
}

QJsonObject named(const char *name)
{
    return {{QStringLiteral("name"), QLatin1String(name)}};
}

QJsonObject named(const char *name, const char *key, const QJsonValue &value)
{
    return {{QStringLiteral("name"), QLatin1String(name)}, {QLatin1String(key), value}};
}

// A window with the endpoint's operations on it, started and quiet.
struct Window {
    test::PanelHarness panel;
    remote::PanelOperations operations{panel.controls()};
    remote::ControlSession session{operations};

    Window()
    {
        panel.startWithoutHeartbeat();
        panel.form->linkView().showLinkHeard();
        panel.clear();
    }
};

} // namespace

class TestControlSession : public QObject {
    Q_OBJECT

private slots:
    // An event's line is the JSON text of the whole notification, whatever
    // its values hold.
    void notificationLineIsTheWholeObject_data()
    {
        QTest::addColumn<QJsonObject>("params");
        QTest::newRow("empty") << QJsonObject{};
        QTest::newRow("plain") << QJsonObject{{"kind", "sent"}, {"bytes", "70 00"}, {"meaning", "polarity +"}};
        QTest::newRow("quotes, backslash, controls") << QJsonObject{{"value", "a\"b\\c\n\t\u0001"}};
        QTest::newRow("beyond ASCII") << QJsonObject{{"value", QStringLiteral("µ 10 °C ✓")}};
        QTest::newRow("numbers, nested") << QJsonObject{{"length", 2}, {"x", QJsonObject{{"heard", false}}}};
    }
    void notificationLineIsTheWholeObject()
    {
        QFETCH(QJsonObject, params);
        const QJsonObject whole{{"jsonrpc", "2.0"}, {"method", "event"}, {"params", params}};
        QCOMPARE(remote::notificationLine(QStringLiteral("event"), params),
                 QJsonDocument(whole).toJson(QJsonDocument::Compact) + '\n');
    }

    void requestDoesWhatTheUserDoes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<UserAction>("user");
        QTest::addColumn<QJsonValue>("result");
        const auto clickOn = [](const char *name) -> UserAction {
            return [=](test::PanelHarness &h) { h.click(h.form->findChild<QWidget *>(QLatin1String(name))); };
        };
        const auto option = [](const char *group, int index) -> UserAction {
            return [=](test::PanelHarness &h) {
                const auto &controls = h.controls();
                auto &options = QLatin1String(group) == QLatin1String("optDdsPolarity") ? controls.optDdsPolarity
                                                                                        : controls.optDdsPower;
                h.click(options.option(index));
            };
        };
        const auto enterIn = [](const char *box) -> UserAction {
            return [=](test::PanelHarness &h) {
                auto *target = h.form->findChild<controls::TextBox *>(QLatin1String(box));
                QVERIFY(test::moveFocusTo(target));
                QTest::keyClick(target, Qt::Key_Return);
            };
        };

        const auto row = [](const char *tag, const QByteArray &line, const UserAction &user, const QJsonValue &result) {
            QTest::newRow(tag) << line << user << result;
        };
        // A box's text set, or assigned by the program (inside and out of the box, when `leave`).
        const auto set = [&row](const char *tag, const char *box, const char *text, bool leave, const char *result) {
            const UserAction user = [=](test::PanelHarness &h) {
                auto *target = h.form->findChild<controls::TextBox *>(QLatin1String(box));
                if (leave)
                    QVERIFY(test::moveFocusTo(target));
                target->assign(QLatin1String(text));
                if (leave)
                    QVERIFY(test::moveFocusTo(&h.controls().cmdDdsReg));
            };
            row(tag, request("set", named(box, "value", text)), user, result);
        };
        const auto slide = [&row](const char *tag, const char *slider, int value) {
            const UserAction user = [=](test::PanelHarness &h) {
                h.form->findChild<QSlider *>(QLatin1String(slider))->setValue(value);
            };
            row(tag, request("set", named(slider, "value", value)), user, value);
        };

        set("set txtFreq 600", "txtFreq", "600", false, "500");
        set("set txtFreq 12abc", "txtFreq", "12abc", false, "12abc");
        set("set txtSysClk 50, left", "txtSysClk", "50", true, "100");
        set("set txtRampRate empty, left", "txtRampRate", "", true, "0");
        set("set txtRampStep 2^32, left", "txtRampStep", "4294967296", true, "4294967295");
        set("set txtStopFreq 600", "txtStopFreq", "600", false, "500");
        slide("set sldContrast 40", "sldContrast", 40);
        slide("set sldGain 0", "sldGain", 0);
        for (const char *button : {"cmdUpdateFreq", "cmdRampStart", "cmdRampStop", "cmdDdsReg", "cmdSeqClear",
                                   "cmdSeqFreq", "cmdSeqRamp", "cmdSeqAdwin", "cmdSeqExecute", "cmdSeqRestart"})
            row(button, request("click", named(button)), clickOn(button), true);
        row("cmdHb", request("click", named("cmdHb")), clickOn("cmdHb"), "HB is off");
        row("polarity 1", request("click", named("optDdsPolarity", "index", 1)), option("optDdsPolarity", 1), 1);
        row("polarity 0, already selected", request("click", named("optDdsPolarity", "index", 0)),
            option("optDdsPolarity", 0), 0);
        row("power off", request("click", named("optDdsPower", "index", 1)), option("optDdsPower", 1), 1);
        row("enter txtFreq", request("enter", named("txtFreq")), enterIn("txtFreq"), "12.34");
        row("enter txtStopFreq", request("enter", named("txtStopFreq")), enterIn("txtStopFreq"), "15");
    }
    void requestDoesWhatTheUserDoes()
    {
        QFETCH(QByteArray, request);
        QFETCH(UserAction, user);
        QFETCH(QJsonValue, result);
        Window byRequest;
        const QJsonObject answer = answerTo(byRequest.session, request);
        QCOMPARE(answer.value(QLatin1String("result")), result);
        QCOMPARE(answer.value(QLatin1String("id")), QJsonValue(7));

        Window byUser;
        user(byUser.panel);
        QCOMPARE(byRequest.panel.sentHex(), byUser.panel.sentHex());
        QCOMPARE(byRequest.operations.state(), byUser.operations.state());
        QCOMPARE(byRequest.panel.store.writes, byUser.panel.store.writes);
    }

    void refusedRequestChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("code");
        const auto row = [](const char *tag, const QByteArray &line, int code = remote::code::kInvalidParams) {
            QTest::newRow(tag) << line << code;
        };
        row("not JSON", "{\"jsonrpc\": \"2.0\", ", remote::code::kParseError);
        row("an array", "[1, 2]", remote::code::kInvalidRequest);
        row("no jsonrpc", R"({"id": 1, "method": "get"})", remote::code::kInvalidRequest);
        row("method a number", R"({"jsonrpc": "2.0", "id": 1, "method": 5})", remote::code::kInvalidRequest);
        row("id an object", R"({"jsonrpc": "2.0", "id": {}, "method": "get"})", remote::code::kInvalidRequest);
        row("unknown method", request("reset", {}), remote::code::kMethodNotFound);
        row("params an array", R"({"jsonrpc":"2.0","id":1,"method":"set","params":[1]})");
        row("unknown control", request("set", named("txtNothing", "value", "1")));
        row("no name", request("click", {}));
        row("box given a number", request("set", named("txtFreq", "value", 5)));
        row("slider given a text", request("set", named("sldGain", "value", "5")));
        row("slider given 2.5", request("set", named("sldGain", "value", 2.5)));
        row("gain 8", request("set", named("sldGain", "value", 8)));
        row("contrast -1", request("set", named("sldContrast", "value", -1)));
        row("the port box", request("set", named("txtPort", "value", "1")));
        row("clicking a box", request("click", named("txtFreq")));
        row("option index 2", request("click", named("optDdsPower", "index", 2)));
        row("option without index", request("click", named("optDdsPower")));
        row("enter in the clock", request("enter", named("txtSysClk")));
    }
    void refusedRequestChangesNothing()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, code);
        Window window;
        const QJsonObject before = window.operations.state();
        const QJsonObject answer = answerTo(window.session, line);
        QCOMPARE(answer.value(QLatin1String("error")).toObject().value(QLatin1String("code")).toInt(), code);
        QVERIFY(!answer.value(QLatin1String("error")).toObject().value(QLatin1String("message")).toString().isEmpty());
        QCOMPARE(window.operations.state(), before);
        QCOMPARE(window.panel.sentHex(), QString());
        QVERIFY(!window.session.wantsClose());
    }

    // Answers come in the order of the requests, a notification gets none,
    // and a line split across reads is one request.
    void linesAndOrder()
    {
        Window window;
        QByteArray lines = request("set", named("txtFreq", "value", "1")) + '\n';
        lines += R"({"jsonrpc":"2.0","method":"set","params":{"name":"txtFreq","value":"2"}})"
                 "\n";
        lines += request("get", {}) + "\r\n\n";
        const QByteArray half = lines.left(20);
        QCOMPARE(window.session.receive(half), QByteArray());
        const QList<QByteArray> answers = window.session.receive(lines.mid(20)).split('\n');
        QCOMPARE(answers.size(), 3); // two answers and the empty rest
        QCOMPARE(QJsonDocument::fromJson(answers[0]).object().value(QLatin1String("result")), QJsonValue("1"));
        const QJsonObject state =
            QJsonDocument::fromJson(answers[1]).object().value(QLatin1String("result")).toObject();
        QCOMPARE(state.value(QLatin1String("controls")).toObject().value(QLatin1String("txtFreq")), QJsonValue("2"));
        QCOMPARE(state.value(QLatin1String("link")).toObject().value(QLatin1String("heard")), QJsonValue(true));
    }

    void overlongLineClosesTheSession()
    {
        Window window;
        QByteArray answers = window.session.receive(QByteArray(remote::kMaxLineBytes, ' '));
        QVERIFY(answers.isEmpty()); // 64 KiB without its end may still be a line
        answers = window.session.receive(QByteArray(10, ' '));
        QCOMPARE(QJsonDocument::fromJson(answers)
                     .object()
                     .value(QLatin1String("error"))
                     .toObject()
                     .value(QLatin1String("code")),
                 QJsonValue(remote::code::kInvalidRequest));
        QVERIFY(window.session.wantsClose());
        QCOMPARE(window.session.receive(request("get", {}) + '\n'), QByteArray());
    }

    // What a subscriber hears of one set: the datagrams and the changes, with
    // a time in UTC to the millisecond.
    void eventsOfOneAssignment()
    {
        const QDateTime started = QDateTime::currentDateTimeUtc().addMSecs(-1);
        Window window;
        remote::PanelEvents events(window.panel.controls(), window.operations, window.panel.channel,
                                   window.panel.form->linkView());
        QList<QJsonObject> heard;
        remote::EventTimes times;
        connect(&events, &remote::PanelEvents::happened, this,
                [&](const remote::PanelEvent &e) { heard.append(e.toJson(times)); });
        answerTo(window.session, request("set", named("txtFreq", "value", "1")));
        QVERIFY(heard.isEmpty()); // nobody watches yet

        events.setWatched(this, true);
        answerTo(window.session, request("set", named("txtFreq", "value", "600")));
        window.panel.channel.failSends = true;
        answerTo(window.session, request("click", named("cmdDdsReg")));
        window.panel.form->linkView().showLinkLost();
        window.panel.channel.simulateArrival();

        QStringList kinds;
        for (const QJsonObject &event : heard) {
            const QString time = event.value(QLatin1String("time")).toString();
            const QDateTime when = QDateTime::fromString(time, Qt::ISODateWithMs);
            QCOMPARE(time, when.toUTC().toString(Qt::ISODateWithMs)); // UTC, to the millisecond
            QVERIFY2(when >= started && when <= QDateTime::currentDateTimeUtc(), qPrintable(time));
            QJsonObject rest = event;
            rest.remove(QStringLiteral("time"));
            kinds << QString::fromUtf8(QJsonDocument(rest).toJson(QJsonDocument::Compact));
        }
        const QStringList expected{
            R"e({"bytes":"A5 00 00 00 00 80","kind":"sent","meaning":"frequency FTW=2147483648 (0x80000000)"})e",
            R"e({"bytes":"70 00","kind":"sent","meaning":"polarity +"})e",
            R"e({"kind":"changed","name":"txtFreq","value":"500"})e",
            R"e({"kind":"changed","name":"lblLaserFreq","value":"(16GHz)"})e",
            R"e({"bytes":"A5 00 00 00 00 80","kind":"sent","meaning":"frequency FTW=2147483648 (0x80000000)"})e",
            R"e({"bytes":"70 00","kind":"sent","meaning":"polarity +"})e",
            R"e({"bytes":"B0","kind":"send-failed","meaning":"register-dump","reason":"refused by the test"})e",
            R"e({"heard":false,"kind":"link"})e",
            // The unit heard again: the link view turns white and the lock
            // controls are sent again (refused here).
            R"e({"from":"127.0.0.1:37829","kind":"arrived","length":2})e",
            R"e({"bytes":"63 50","kind":"send-failed","meaning":"contrast 80","reason":"refused by the test"})e",
            R"e({"bytes":"67 E0","kind":"send-failed","meaning":"gain 7 (byte 0xe0)","reason":"refused by the test"})e",
            R"e({"heard":true,"kind":"link"})e",
        };
        QCOMPARE(kinds, expected);
    }

    // An endpoint that is closed, or could not be opened, leaves no handler
    // on the window: a later change of the link state reaches nothing of it.
    void closedEndpointLeavesNothingBehind()
    {
        test::PanelHarness h;
        h.startAndClear();
        {
            const remote::ControlEndpoint endpoint(*h.form);
        }
        window::LinkView &link = h.form->linkView();
        link.showLinkHeard();
        link.showLinkLost();
        QVERIFY(!QObject::disconnect(&link, &window::LinkView::shownStateChanged, nullptr, nullptr));
    }
};

QTEST_MAIN(TestControlSession)
#include "test_control_session.moc"
