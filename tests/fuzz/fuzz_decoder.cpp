// Fuzzes the datagram decoder: any bytes are either a command, which encodes
// back to exactly these bytes and decodes to the same command again, or no
// command with a reason. Describing either never fails.

#include "core/link/decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace veloxa::link;

[[noreturn]] void fail(const char *what, const QByteArray &bytes, const QByteArray &other = {})
{
    std::fprintf(stderr, "fuzz_decoder: %s\n  bytes: %s\n  other: %s\n", what, bytes.toHex(' ').constData(),
                 other.toHex(' ').constData());
    std::abort();
}

#define CHECK(condition, bytes, other)                                                                                 \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fail(#condition, (bytes), (other));                                                                        \
    } while (0)

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const DecodeResult result = decode(bytes);
    CHECK(hexBytes(bytes).size() == (bytes.isEmpty() ? 0 : 3 * bytes.size() - 1), bytes, QByteArray());

    if (!result.command) {
        CHECK(!result.error.isEmpty(), bytes, QByteArray());
        return 0;
    }
    CHECK(result.error.isEmpty(), bytes, QByteArray());
    const Datagram encoded = encode(*result.command);
    CHECK(encoded == bytes, bytes, encoded);
    const DecodeResult again = decode(encoded);
    CHECK(again.command && *again.command == *result.command, bytes, encoded);
    CHECK(!describe(*result.command).isEmpty(), bytes, QByteArray());
    return 0;
}
