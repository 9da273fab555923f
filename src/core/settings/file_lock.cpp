#include "core/settings/file_lock.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace veloxa::settings {

namespace {

constexpr long kRetryNs = 2L * 1000 * 1000;

int openLockFile(const QByteArray &path)
{
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY); // flock needs no write access
    return fd;
}

// Whether the name still leads to the file the descriptor has open.
bool stillNamed(int fd, const QByteArray &path)
{
    struct stat held{};
    struct stat named{};
    return ::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev
        && held.st_ino == named.st_ino;
}

} // namespace

FileLock::FileLock(QString path)
    : m_path(std::move(path))
{
}

FileLock::~FileLock()
{
    release();
}

bool FileLock::acquire(int waitMs)
{
    if (m_fd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(m_path);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int fd = openLockFile(path);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (stillNamed(fd, path)) {
                m_fd = fd;
                return true;
            }
            ::close(fd); // removed under us: take the one that has the name now
            if (waited.elapsed() >= waitMs)
                return false;
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK && error != EINTR)
            return false;
        if (waited.elapsed() >= waitMs)
            return false;
        const timespec pause{0, kRetryNs};
        ::nanosleep(&pause, nullptr);
    }
}

void FileLock::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd); // closing the last descriptor drops the flock
    m_fd = -1;
}

} // namespace veloxa::settings
