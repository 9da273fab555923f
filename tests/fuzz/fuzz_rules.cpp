// Fuzzes the correcting rules of the five number boxes with the checker of
// tests/core/box_handlers.h, which test_rule_fixed_points drives too.
//
// Input: one selector byte (bits 0-2: the box assigned, modulo 5; bit 3: the
// clock text goes through the clock box's own rules first instead of being
// taken as it is, as a box that has the focus can hold any text for a while),
// one length byte n, n bytes of clock text, then the text assigned to the box
// (both UTF-8, invalid bytes become U+FFFD).
//
// The assigned text must settle as settlingProblem() asks, and so must the
// clock text the clock box's own rules made.

#include "box_handlers.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using veloxa::test::Box;

void check(const QString &problem, const std::uint8_t *data, std::size_t size)
{
    if (problem.isEmpty())
        return;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::fprintf(stderr, "fuzz_rules: %s\n  input: %s\n", problem.toUtf8().constData(), input.toHex(' ').constData());
    std::abort();
}

QString text(const std::uint8_t *data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t selector = data[0];
    const std::size_t clockLength = std::min<std::size_t>(data[1], size - 2);
    QString clock = text(data + 2, clockLength);
    const QString assigned = text(data + 2 + clockLength, size - 2 - clockLength);
    const Box box = veloxa::test::kEveryBox.at((selector & 7u) % veloxa::test::kEveryBox.size());

    if (selector & 8u) {
        check(veloxa::test::settlingProblem(Box::Clock, clock, {}), data, size);
        clock = veloxa::test::settle(Box::Clock, clock, {}).text;
    }
    check(veloxa::test::settlingProblem(box, assigned, clock), data, size);
    return 0;
}
