#include "core/settings/careful_write.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veloxa::settings::careful {

namespace {

bool pathTaken(const QByteArray &path)
{
    struct stat st{};
    return ::lstat(path.constData(), &st) == 0 || errno != ENOENT;
}

// Renames without ever replacing what is already at the new name.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    // The file system cannot do it in one step.
#endif
    if (pathTaken(to))
        return false;
    return ::rename(from.constData(), to.constData()) == 0;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// A new, empty file in path's folder that nobody else can see yet, or nothing.
int openUnnamed(const QByteArray &folder, mode_t mode)
{
#ifdef O_TMPFILE
    return ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#else
    Q_UNUSED(folder);
    Q_UNUSED(mode);
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Gives the unnamed file at fd the name `name`, through /proc as linkat()
// with AT_EMPTY_PATH needs a privilege.
bool nameUnnamed(int fd, const QByteArray &name)
{
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, procPath, AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

} // namespace

QString resolvedPath(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 40; ++depth) {
        if (!info.isSymLink()) {
            // A link to a folder or a pipe is itself what is in the way; the
            // thing it leads to is none of the store's business.
            if (info.exists() && !info.isFile())
                return path;
            return info.absoluteFilePath();
        }
        info.setFile(info.symLinkTarget());
    }
    return path;
}

bool Look::sameAs(const Look &other) const
{
    return state == other.state && bytes == other.bytes && device == other.device && inode == other.inode
        && mode == other.mode && size == other.size && modifiedNs == other.modifiedNs;
}

Look look(const QString &path)
{
    Look result;
    const QByteArray name = QFile::encodeName(path);
    struct stat st{};
    if (::stat(name.constData(), &st) != 0) {
        // A link that leads nowhere is no file; a link in a circle is unusable.
        result.state = errno == ENOENT || errno == ENOTDIR ? Look::Missing : Look::Unusable;
        return result;
    }
    const auto noteIdentity = [&result](const struct stat &s) {
        result.device = s.st_dev;
        result.inode = s.st_ino;
        result.mode = s.st_mode;
        result.size = s.st_size;
        result.modifiedNs = qint64(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
    };
    noteIdentity(st);
    result.state = Look::Unusable;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes)
        return result;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return result;
    struct stat opened{};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return result;
    }
    noteIdentity(opened);
    QByteArray bytes(qsizetype(kMaxFileBytes + 1), Qt::Uninitialized);
    qsizetype got = 0;
    bool failed = false;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    if (failed || got > kMaxFileBytes)
        return result;
    bytes.truncate(got);
    result.bytes = std::move(bytes);
    result.state = Look::Readable;
    return result;
}

bool moveAside(const QString &path)
{
    const QByteArray from = QFile::encodeName(path);
    const QString stem = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QByteArray aside = QFile::encodeName(attempt == 1 ? stem : stem + u'-' + QString::number(attempt));
        if (renameNoReplace(from, aside))
            return true;
        if (!pathTaken(aside))
            return false; // failed for another reason than the name
    }
    return false;
}

QString unfinishedName(const QString &path)
{
    return path + QStringLiteral(".being-written");
}

bool replace(const QString &path, const QByteArray &bytes, int keepMode)
{
    const mode_t mode = keepMode < 0 ? 0666 : mode_t(keepMode & 07777);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const QByteArray unfinished = QFile::encodeName(unfinishedName(path));

    // Whatever a killed writer left under the shared name goes first; the
    // caller's lock keeps every live writer out of it.
    ::unlink(unfinished.constData());
    bool unnamed = true;
    int fd = openUnnamed(folder, mode);
    if (fd < 0) {
        unnamed = false;
        fd = ::open(unfinished.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0)
            return false;
    }
    // The umask narrowed the bits on creation; a file that replaces another
    // takes the bits of that one.
    bool ok = writeAll(fd, bytes) && (keepMode < 0 || ::fchmod(fd, mode) == 0);
    // Qt's QSaveFile ignores the result of this flush; a full disk may first
    // show here (delayed allocation), and a file that is not on the disk must
    // not be renamed into place.
    ok = ok && ::fdatasync(fd) == 0;
    if (ok && unnamed)
        ok = nameUnnamed(fd, unfinished);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(unfinished.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(unfinished.constData());
    return ok;
}

} // namespace veloxa::settings::careful
