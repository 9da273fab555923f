// Keystroke to datagram: how long after a key goes into the frequency box the
// frequency command reaches the unit's socket.
//
// The real window with the real UDP channel sends to a plain POSIX socket on
// 127.0.0.1 bound here. Keys alternate between '5' (appended) and Backspace,
// so every key changes the text ("12.34" <-> "12.345", always in range) and
// sends the frequency command and then the polarity repeat. A sample runs
// from just before the key event to the kernel's arrival stamp of the
// frequency datagram (SO_TIMESTAMPNS); the polarity datagram is read and
// dropped. The floor, sampled alternately with the keys in the same run, is a
// plain sendto of a 6-byte and a 2-byte datagram to the same socket, timed to
// the first one's arrival stamp in the same way.

#include "measure.h"
#include "report.h"

#include "core/link/clock.h"
#include "core/link/datagrams.h"
#include "core/link/udp_channel.h"
#include "support/panel_harness.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr double kGoalMs = 0.25;

const char kUsage[] = "bench_keystroke [--keys N] [--warmup N] [--csv-dir DIR]\n"
                      "  N keys into the real window's frequency box (default 1000, after 50 unmeasured),\n"
                      "  each timed to the frequency datagram's arrival at a socket on 127.0.0.1.";

struct Samples {
    std::vector<double> keyToArrival, keyToRead, keyHandled, floorArrival, floorRead;
};

// The floor: the same two sizes with a plain sendto to the same socket,
// from just before the first sendto to its arrival stamp and its reading.
void sampleFloor(Sender &plain, Receiver &unit, Samples *samples)
{
    const char frequencyLike[6] = {char(0xA5), 0, 1, 2, 3, 4};
    const char polarityLike[2] = {0x70, 0};
    const std::int64_t floorStart = realtimeNs();
    if (!plain.sendTo(unit.port(), frequencyLike, sizeof frequencyLike)
        || !plain.sendTo(unit.port(), polarityLike, sizeof polarityLike))
        fail("plain sendto failed");
    const auto floorFirst = unit.waitFor(0xA5, 2000);
    if (!floorFirst || !unit.waitFor(0x70, 2000))
        fail("the floor's datagrams did not arrive");
    if (samples) {
        samples->floorArrival.push_back(nsToMs(floorFirst->kernelNs - floorStart));
        samples->floorRead.push_back(nsToMs(floorFirst->seenNs - floorStart));
    }
}

bool report(const Samples &samples, long long keys, long long warmup, const std::string &csvDir)
{
    const Summary arrival = summarize(samples.keyToArrival);
    const Summary floor = summarize(samples.floorArrival);
    const Summary read = summarize(samples.keyToRead);
    const Summary floorReadSummary = summarize(samples.floorRead);

    Report report("keystroke", "key into txtFreq -> frequency datagram at a socket on 127.0.0.1");
    report.addSummary("key -> frequency datagram arrival", arrival, "ms", "median <= " + fixed(kGoalMs, 2) + " ms",
                      ratioText(arrival.median, floor.median), verdict(arrival.median <= kGoalMs));
    report.addSummary("floor: sendto 6+2 bytes -> arrival", floor, "ms");
    report.addSummary("key event handled (press+release)", summarize(samples.keyHandled), "ms");
    report.addSummary("key -> datagram read by recvmsg", read, "ms", {},
                      ratioText(read.median, floorReadSummary.median));
    report.addSummary("floor: sendto -> read by recvmsg", floorReadSummary, "ms");
    report.note("arrival = the kernel's receive stamp (SO_TIMESTAMPNS); 'x floor' compares medians; "
                + std::to_string(keys) + " keys ('5' / Backspace alternately) after " + std::to_string(warmup)
                + " unmeasured");
    return report.finish(csvDir);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv, {{"keys", "1000"}, {"warmup", "50"}, {"csv-dir", VELOXA_BENCH_RESULTS}}, kUsage);
    requireIsolatedLoopback();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    const long long keys = options.number("keys");
    const long long warmup = options.number("warmup");

    Receiver unit;
    test::Panel<link::UdpChannel, settings::MemoryStore, link::SteadyClock> panel;
    if (!panel.channel.setDestination(QStringLiteral("127.0.0.1"), unit.port()))
        fail("the channel refused 127.0.0.1");
    window::FormMain &form = *panel.form;
    if (!panel.showForKeys(&form.controls().txtFreq))
        fail("the window was not shown");
    QCoreApplication::processEvents();
    unit.drain();

    const QString shortText = form.controls().txtFreq.text();
    const QString longText = shortText + QLatin1Char('5');

    Sender plain;
    Samples samples;
    int skipped = 0;
    std::vector<std::uint8_t> previous;
    for (long long i = 0; i < warmup + keys; ++i) {
        const bool measured = i >= warmup;
        const bool append = i % 2 == 0;

        // Pending paints and layout of the previous key are not part of the next one.
        QCoreApplication::processEvents();
        const std::int64_t start = realtimeNs();
        if (append)
            QTest::keyClick(&form.controls().txtFreq, '5');
        else
            QTest::keyClick(&form.controls().txtFreq, Qt::Key_Backspace);
        const std::int64_t handled = realtimeNs();
        const auto frequency = unit.waitFor(link::opcode::Frequency, 2000, &skipped);
        if (!frequency)
            fail("no frequency datagram arrived within 2 s of a key");
        if (!unit.waitFor(link::opcode::Polarity, 2000, &skipped))
            fail("no polarity datagram followed the frequency datagram");
        if (form.controls().txtFreq.text() != (append ? longText : shortText))
            fail("the key did not change the frequency box as expected");
        if (frequency->bytes.size() != 6 || frequency->bytes == previous)
            fail("the frequency datagram is not the 6-byte command for the new text");
        previous = frequency->bytes;

        // The floor, sampled alternately with the keys in the same run.
        sampleFloor(plain, unit, measured ? &samples : nullptr);
        if (measured) {
            samples.keyToArrival.push_back(nsToMs(frequency->kernelNs - start));
            samples.keyToRead.push_back(nsToMs(frequency->seenNs - start));
            samples.keyHandled.push_back(nsToMs(handled - start));
        }
    }
    if (skipped != 0)
        std::fprintf(stderr, "bench_keystroke: %d unexpected datagrams arrived and were dropped\n", skipped);
    return report(samples, keys, warmup, options.text("csv-dir")) ? 0 : 1;
}
