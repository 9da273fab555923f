#include "app/single_copy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace veloxa::app {

QString singleCopyLockPath(const QString &unit)
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    const QByteArray digest =
        QCryptographicHash::hash(program.canonicalFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    const QString forUnit = unit.isEmpty() ? QString() : QLatin1Char('-') + unit;
    return directory + QLatin1Char('/') + program.fileName() + QLatin1Char('-') + QString::fromLatin1(digest) + forUnit
        + QStringLiteral(".lock");
}

#ifdef Q_OS_WIN
SingleCopy::~SingleCopy()
{
    if (m_mutex)
        ::CloseHandle(m_mutex);
}

SingleCopy::Outcome SingleCopy::take(const QString &lockPath)
{
    // A lock file would outlive a killed panel and name a process id that
    // Windows hands out again; a mutex goes with its last holder.
    const std::wstring name = (QStringLiteral("Local\\") + QFileInfo(lockPath).fileName()).toStdWString();
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
    const DWORD error = ::GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS) {
        m_mutex = mutex;
        return Outcome::Only;
    }
    if (mutex)
        ::CloseHandle(mutex);
    // Another user's copy of the same name in this session may have made it
    // with rights that do not let this one open it: a copy runs all the same.
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
        return Outcome::AnotherRuns;
    m_problem = QStringLiteral("cannot create the mutex %1 (error %2)").arg(QString::fromStdWString(name)).arg(error);
    return Outcome::Unguarded;
}
#else
SingleCopy::~SingleCopy()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

SingleCopy::Outcome SingleCopy::take(const QString &lockPath)
{
    const QByteArray path = QFile::encodeName(lockPath);
    // No write access is needed for the lock itself: an existing file in a
    // folder that became read-only still guards.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        m_problem = QStringLiteral("cannot create %1: %2").arg(lockPath, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Unguarded;
    }
    // An earlier panel held QLockFile on this same file, which also takes
    // flock on it: a copy of that kind still counts as running.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        return Outcome::Only;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
        return Outcome::AnotherRuns;
    m_problem = QStringLiteral("cannot lock %1: %2").arg(lockPath, QString::fromLocal8Bit(std::strerror(error)));
    return Outcome::Unguarded;
}
#endif

} // namespace veloxa::app
