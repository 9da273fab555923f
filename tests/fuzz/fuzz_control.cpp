// Fuzzes the control endpoint's request reader and dispatcher on the real
// window (a recording channel, a store in memory): arbitrary bytes, split
// into pieces at arbitrary places, as a client might write them.
//
// Input: one byte k, then the bytes the client writes, handed over in pieces
// of 1 + (k % 64) bytes.
//
// Whatever comes in, every answer is one JSON-RPC 2.0 object per line with
// either a result or an error, no answer comes to a notification, the window
// keeps every slider within its range, and what the channel sent decodes as
// commands of the unit.

#include "core/link/decoder.h"
#include "core/link/recording_channel.h"
#include "core/settings/memory_store.h"
#include "gui/remote/control_session.h"
#include "gui/remote/panel_operations.h"
#include "gui/window/form_main.h"
#include "support/fake_clock.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace veloxa;

struct Panel {
    link::RecordingChannel channel;
    settings::MemoryStore store;
    test::FakeClock clock;
    window::FormMain form{channel, store, clock};
    remote::PanelOperations operations{form.controls()};

    Panel() { channel.setDestination(QStringLiteral("127.0.0.1"), 37829); } // recorded, never sent
};

Panel *g_panel = nullptr;
QByteArray g_input;

[[noreturn]] void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "fuzz_control: %s\n  %s\n  input: %s\n", what, detail.constData(),
                 g_input.toHex(' ').constData());
    std::abort();
}

void checkAnswers(const QByteArray &answers)
{
    if (answers.isEmpty())
        return;
    if (!answers.endsWith('\n'))
        fail("an answer does not end its line", answers);
    for (const QByteArray &line : answers.chopped(1).split('\n')) {
        QJsonParseError error{};
        const QJsonObject answer = QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError || answer.value(QLatin1String("jsonrpc")) != QLatin1String("2.0"))
            fail("an answer is not a JSON-RPC object", line);
        if (answer.contains(QLatin1String("result")) == answer.contains(QLatin1String("error")))
            fail("an answer has neither or both of result and error", line);
        if (!answer.contains(QLatin1String("id")))
            fail("an answer without an id", line);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_control";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives as long as the process
    g_panel = new Panel;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    g_input = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArray bytes = g_input.mid(1);

    remote::ControlSession session(g_panel->operations);
    g_panel->channel.sent.clear();
    for (qsizetype at = 0; at < bytes.size() && !session.wantsClose(); at += piece)
        checkAnswers(session.receive(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at))));

    const window::PanelControls &controls = g_panel->form.controls();
    for (const controls::Slider *slider : {&controls.sldGain, &controls.sldContrast})
        if (slider->value() < slider->minimum() || slider->value() > slider->maximum())
            fail("a slider left its range", QByteArray::number(slider->value()));
    for (const link::Datagram &datagram : g_panel->channel.sent)
        if (!link::decode(datagram).command)
            fail("sent what is no command", datagram.toHex(' '));
    return 0;
}
