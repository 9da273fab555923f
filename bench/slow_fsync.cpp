// An LD_PRELOAD library that makes every fsync and fdatasync take
// VELOXA_SLOW_FSYNC_MS (default 10) milliseconds longer: the disk of a lab PC
// with a hard disk or a home folder on the network. With
// VELOXA_SLOW_FSYNC_COUNT_FILE set, the number of calls slowed is written
// there when the process ends, so a benchmark can tell the library was in.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <time.h>

namespace {

std::atomic<long> g_calls{0};

void slowDown()
{
    const char *text = std::getenv("VELOXA_SLOW_FSYNC_MS");
    const long ms = text ? std::strtol(text, nullptr, 10) : 10;
    const timespec delay{ms / 1000, (ms % 1000) * 1000000};
    ::nanosleep(&delay, nullptr);
    ++g_calls;
}

struct CountAtExit {
    ~CountAtExit()
    {
        if (const char *path = std::getenv("VELOXA_SLOW_FSYNC_COUNT_FILE")) {
            if (FILE *file = std::fopen(path, "w")) {
                std::fprintf(file, "%ld\n", g_calls.load());
                std::fclose(file);
            }
        }
    }
} g_countAtExit;

template <typename Function>
Function *next(const char *name)
{
    return reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    static auto *real = next<int(int)>("fsync");
    slowDown();
    return real ? real(fd) : -1;
}

extern "C" int fdatasync(int fildes)
{
    static auto *real = next<int(int)>("fdatasync");
    slowDown();
    return real ? real(fildes) : -1;
}
