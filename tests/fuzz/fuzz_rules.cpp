// Fuzzes the correcting rules of the five number boxes on the real window:
// the real controllers on real text boxes, with a recording channel and a
// store in memory.
//
// Input: one selector byte (bits 0-2: the box assigned, modulo 5; bit 3: the
// clock text is assigned with its rules instead of being put in place
// silently, as a box that has the focus can hold any text for a while;
// bit 4: polarity "--"), one length byte n, n bytes of clock text, then the
// text assigned to the box (both UTF-8, invalid bytes become U+FFFD).
//
// Every assignment must settle after a few nested runs (a rule that undoes
// another's correction would recurse without end), touch no other box, leave
// a text its rules no longer change, keep the box within its bounds, store
// what it holds, and send nothing but well-formed datagrams: the frequency
// box the frequency command for its text and the polarity repeat, the other
// boxes nothing.

#include "core/link/decoder.h"
#include "core/link/recording_channel.h"
#include "core/rules/text_numbers.h"
#include "core/rules/tuning_word.h"
#include "core/settings/memory_store.h"
#include "gui/window/form_main.h"
#include "support/fake_clock.h"

#include <QApplication>
#include <QSignalBlocker>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace veloxa;
using rules::asWritten;
using rules::leading;
using rules::whole;

// A correction re-runs the handling nested once per assignment; the deepest
// chain of the rules is three corrections.
constexpr int kMostRuns = 4;

struct Panel {
    link::RecordingChannel channel;
    settings::MemoryStore store;
    test::FakeClock clock;
    window::FormMain form{channel, store, clock};
    std::array<controls::TextBox *, 5> boxes{&form.controls().txtFreq, &form.controls().txtSysClk,
                                             &form.controls().txtRampRate, &form.controls().txtRampStep,
                                             &form.controls().txtStopFreq};
    std::array<QString, 5> defaults{QStringLiteral("12.34"), QStringLiteral("1000"), QStringLiteral("1"),
                                    QStringLiteral("1"), QStringLiteral("15")};
    std::array<int, 5> runs{};
    QObject counting;

    Panel()
    {
        for (std::size_t i = 0; i < boxes.size(); ++i)
            QObject::connect(boxes[i], &controls::TextBox::changed, &counting, [this, i] { ++runs[i]; });
        channel.setDestination(QStringLiteral("127.0.0.1"), 37829); // recorded, never sent
    }
};

Panel *g_panel = nullptr;

QByteArray g_input; // for the report of a failure

[[noreturn]] void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz_rules: %s\n  %s\n  input: %s\n", what, detail.toUtf8().constData(),
                 g_input.toHex(' ').constData());
    std::abort();
}

#define CHECK(condition, detail)                                                                                       \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fail(#condition, (detail));                                                                                \
    } while (0)

QString state(const Panel &panel)
{
    QStringList texts;
    for (const controls::TextBox *box : panel.boxes)
        texts << QLatin1Char('"') + box->text() + QLatin1Char('"');
    return QStringLiteral("boxes (freq, clock, rate, step, stop): ") + texts.join(QLatin1String(", "));
}

QString lastStored(const settings::MemoryStore &store, const QString &name)
{
    for (auto it = store.writes.crbegin(); it != store.writes.crend(); ++it)
        if (it->first == name)
            return it->second;
    return {};
}

void putSilently(controls::TextBox *box, const QString &text)
{
    const QSignalBlocker quiet(box);
    box->setText(text);
}

// The box within its bounds once its rules have run.
void checkBounds(const Panel &panel, std::size_t index)
{
    const window::FormMain &form = panel.form;
    const QString text = panel.boxes[index]->text();
    const auto clock = whole(form.controls().txtSysClk.text());
    const bool clockUsable = clock && *clock >= 0.0;
    switch (index) {
    case 0: // frequency: within +/- half the clock
    case 4: // stop frequency: the same
        if (clockUsable) {
            CHECK(leading(text) <= asWritten(*clock / 2.0), state(panel));
            CHECK(leading(text) >= asWritten(*clock * -1.0 / 2.0), state(panel));
        }
        break;
    case 1: { // clock: a number as a whole, its own leading number, at most 1000
        // (below 100, even negative, until the box loses the focus)
        const auto value = whole(text);
        CHECK(value.has_value(), state(panel));
        CHECK(*value == leading(text), state(panel));
        CHECK(*value <= 1000.0, state(panel));
        break;
    }
    case 2: // rate
    case 3: { // step
        const double largest = index == 2 ? 65535.0 : 4294967295.0;
        CHECK(leading(text) >= 0.0 && leading(text) <= largest, state(panel));
        if (const auto value = whole(text))
            CHECK(numbers::isWhole(*value), state(panel));
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_rules";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives as long as the process
    g_panel = new Panel;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    g_input = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    Panel &panel = *g_panel;
    const std::uint8_t selector = data[0];
    const std::size_t clockLength = std::min<std::size_t>(data[1], size - 2);
    const QString clockText =
        QString::fromUtf8(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(clockLength));
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 2 + clockLength),
                                           static_cast<qsizetype>(size - 2 - clockLength));
    const std::size_t index = (selector & 7u) % 5;
    controls::TextBox *box = panel.boxes[index];
    const bool clockRules = selector & 8u;

    // The window as it starts, then the clock text.
    for (std::size_t i = 0; i < panel.boxes.size(); ++i)
        putSilently(panel.boxes[i], panel.defaults[i]);
    panel.form.controls().optDdsPolarity.select(selector & 16u ? 1 : 0);
    panel.runs.fill(0);
    if (clockRules) {
        panel.form.controls().txtSysClk.assign(clockText);
        CHECK(panel.runs[1] <= kMostRuns, QStringLiteral("%1 runs for the clock").arg(panel.runs[1]));
        checkBounds(panel, 1);
    } else {
        putSilently(&panel.form.controls().txtSysClk, clockText);
    }

    // The assignment under test.
    std::array<QString, 5> before;
    for (std::size_t i = 0; i < panel.boxes.size(); ++i)
        before[i] = panel.boxes[i]->text();
    panel.channel.sent.clear();
    panel.store.writes.clear();
    panel.runs.fill(0);
    box->assign(text);
    const QString settled = box->text();
    CHECK(panel.runs[index] >= 1 && panel.runs[index] <= kMostRuns,
          QStringLiteral("%1 runs; ").arg(panel.runs[index]) + state(panel));
    for (std::size_t i = 0; i < panel.boxes.size(); ++i)
        if (i != index)
            CHECK(panel.runs[i] == 0 && panel.boxes[i]->text() == before[i], state(panel));
    checkBounds(panel, index);

    // Everything sent is a command; only the frequency box sends.
    const bool polarityMinus = selector & 16u;
    for (const QByteArray &datagram : std::as_const(panel.channel.sent)) {
        const auto decoded = link::decode(datagram);
        CHECK(decoded.command.has_value(), link::hexBytes(datagram) + QLatin1String("; ") + state(panel));
        CHECK(index == 0, link::hexBytes(datagram) + QLatin1String("; ") + state(panel));
        CHECK(decoded.command->kind == link::CommandKind::Frequency
                  || (decoded.command->kind == link::CommandKind::Polarity
                      && decoded.command->value == (polarityMinus ? 1 : 0)),
              link::hexBytes(datagram));
    }
    CHECK(panel.channel.sent.size() <= 2 * panel.runs[index], state(panel));

    // Assigning the settled text again changes nothing: one run, the same text.
    const QList<QByteArray> sentFirst = panel.channel.sent;
    panel.channel.sent.clear();
    panel.store.writes.clear();
    panel.runs.fill(0);
    box->assign(settled);
    CHECK(box->text() == settled, QStringLiteral("\"%1\" became ").arg(settled) + state(panel));
    CHECK(panel.runs[index] == 1,
          QStringLiteral("%1 runs for the settled text; ").arg(panel.runs[index]) + state(panel));

    // What the box holds is what goes out and what is stored.
    const QString clock = panel.form.controls().txtSysClk.text();
    switch (index) {
    case 0: {
        const auto command = rules::buildFrequencyCommand(settled, clock);
        const QList<QByteArray> expected =
            command ? QList<QByteArray>{*command, *link::polarityCommand(polarityMinus ? 1 : 0)} : QList<QByteArray>{};
        CHECK(panel.channel.sent == expected, state(panel));
        CHECK(sentFirst.mid(sentFirst.size() - expected.size()) == expected, state(panel));
        CHECK(panel.store.writes.isEmpty(), state(panel));
        break;
    }
    case 1: CHECK(panel.channel.sent.isEmpty() && panel.store.writes.isEmpty(), state(panel)); break;
    case 2:
    case 3: {
        const QString &name = index == 2 ? settings::names::RampRate : settings::names::RampStep;
        CHECK(panel.channel.sent.isEmpty(), state(panel));
        CHECK(lastStored(panel.store, name) == settled, state(panel));
        break;
    }
    case 4:
        CHECK(panel.channel.sent.isEmpty(), state(panel));
        CHECK(panel.store.writes.size() == 1 && lastStored(panel.store, settings::names::RampStopFreq) == settled,
              state(panel));
        break;
    }
    return 0;
}
