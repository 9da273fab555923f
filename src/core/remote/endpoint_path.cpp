#include "core/remote/endpoint_path.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <QProcessEnvironment>
#else
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veloxa::remote {

#ifdef Q_OS_WIN

QString endpointName()
{
    const QString user = QProcessEnvironment::systemEnvironment().value(QStringLiteral("USERNAME"));
    return QStringLiteral("veloxa2-gui-control-") + user;
}

#else

QString endpointFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/veloxa2-gui");
}

QString endpointName()
{
    return endpointFolder() + QStringLiteral("/control");
}

QString checkPrivateFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot make %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat facts = {};
    if (::lstat(path.constData(), &facts) != 0)
        return QStringLiteral("cannot look at %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(facts.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (facts.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(folder).arg(facts.st_uid);
    if ((facts.st_mode & 0077) != 0)
        return QStringLiteral("%1 is open to others (mode %2, not 0700)")
            .arg(folder, QString::number(facts.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')));
    return {};
}

#endif

} // namespace veloxa::remote
