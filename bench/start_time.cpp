// One timed start of a program that sends the contrast command first; shared
// by the start-up and slow-disk benchmarks.

#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace veloxa::bench {

namespace {

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(2);
}

} // namespace

StartTime timeStart(Receiver &unit, const std::vector<std::string> &argv, const char *what,
                    const std::map<std::string, std::string> &extraEnvironment)
{
    constexpr std::uint8_t kContrastOpcode = 0x63;
    ScratchDir scratch(std::filesystem::temp_directory_path().string());
    const std::string config = scratch.path() + "/config";
    seedAddressOnly(config, "127.0.0.1");
    const std::string log = scratch.path() + "/output.txt";
    unit.drain();

    std::map<std::string, std::string> environment = {{"QT_QPA_PLATFORM", "offscreen"},
                                                      {"XDG_CONFIG_HOME", config},
                                                      {"XDG_RUNTIME_DIR", scratch.path() + "/runtime"}};
    for (const auto &[name, value] : extraEnvironment)
        environment[name] = value;
    const std::int64_t start = realtimeNs();
    const pid_t pid = spawn(argv, environment, log);
    int skipped = 0;
    const auto arrival = unit.waitFor(kContrastOpcode, 20000, &skipped);
    const int status = stopPolitely(pid);
    const auto output = [&log] {
        std::ifstream in(log);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    if (!arrival)
        fail(std::string("no contrast datagram from ") + what + " within 20 s; its output:\n" + output());
    if (skipped != 0)
        fail(std::string(what) + " sent " + std::to_string(skipped) + " datagrams before its contrast datagram");
    return {nsToMs(arrival->kernelNs - start), status};
}

} // namespace veloxa::bench
