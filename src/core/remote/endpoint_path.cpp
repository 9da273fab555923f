#include "core/remote/endpoint_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QProcessEnvironment>
#else
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veloxa::remote {

bool isUnitName(const QString &name)
{
    static constexpr qsizetype kLongest = 64;
    if (name.isEmpty() || name.size() > kLongest || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return std::all_of(name.cbegin(), name.cend(), isUnitNameCharacter);
}

bool isUnitNameCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('_')
        || c == QLatin1Char('.');
}

#ifdef Q_OS_WIN

QString endpointName(const QString &unit)
{
    const QString user = QProcessEnvironment::systemEnvironment().value(QStringLiteral("USERNAME"));
    QString name = QStringLiteral("veloxa2-gui-control-") + user;
    if (!unit.isEmpty())
        name += QLatin1Char('-') + unit;
    return name;
}

#else

QString endpointFolder(const QString &unit)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/veloxa2-gui");
    if (!unit.isEmpty())
        folder += QLatin1Char('/') + unit;
    return folder;
}

QString endpointName(const QString &unit)
{
    return endpointFolder(unit) + QStringLiteral("/control");
}

QString checkEndpointFolders(const QString &endpoint)
{
    const QString folder = QFileInfo(endpoint).path();
    if (const QString panels = endpointFolder(); QFileInfo(folder).path() == panels) {
        if (QString problem = checkPrivateFolder(panels); !problem.isEmpty())
            return problem;
    }
    return checkPrivateFolder(folder);
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
