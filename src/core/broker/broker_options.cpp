#include "core/broker/broker_options.h"

#include "core/remote/endpoint_path.h"

#include <QFile>
#include <QHostAddress>
#include <QSysInfo>
#include <QUrl>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veloxa::broker {

QString BrokerAddress::url() const
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("%1://%2:%3")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), shownHost)
        .arg(port);
}

std::variant<BrokerAddress, QString> parseBrokerUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")))
        return QStringLiteral("\"%1\" is no broker URL (mqtt://HOST[:PORT] or mqtts://HOST[:PORT])").arg(url);
    if (parsed.host().isEmpty())
        return QStringLiteral("\"%1\" names no host").arg(url);
    if (!parsed.userInfo().isEmpty())
        return QStringLiteral("\"%1\": credentials go in --mqtt-credentials FILE, never in the URL").arg(url);
    if ((!parsed.path().isEmpty() && parsed.path() != QLatin1String("/")) || parsed.hasQuery() || parsed.hasFragment())
        return QStringLiteral("\"%1\" has more than a host and a port").arg(url);
    const bool tls = scheme == QLatin1String("mqtts");
    const int port = parsed.port(tls ? 8883 : 1883);
    if (port <= 0 || port > 65535)
        return QStringLiteral("\"%1\" has no port 1..65535").arg(url);
    return BrokerAddress{parsed.host(), static_cast<quint16>(port), tls};
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::variant<Credentials, QString> readCredentials(const QString &path)
{
#ifndef Q_OS_WIN
    // Opened first and looked at through the open file: what is read is what was checked.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat facts = {};
    const bool looked = ::fstat(fd, &facts) == 0;
    QFile file;
    if (!looked || !S_ISREG(facts.st_mode) || facts.st_uid != ::geteuid() || (facts.st_mode & 0077) != 0) {
        ::close(fd);
        if (!looked || !S_ISREG(facts.st_mode))
            return QStringLiteral("%1 is not a regular file").arg(path);
        if (facts.st_uid != ::geteuid())
            return QStringLiteral("%1 belongs to another user").arg(path);
        return QStringLiteral("%1 may be read by others (mode %2): chmod 600 it")
            .arg(path, QString::number(facts.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QStringLiteral("cannot read %1").arg(path);
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
#endif
    static constexpr qint64 kLongest = 4096;
    QByteArray text = file.read(kLongest + 1);
    if (text.size() > kLongest)
        return QStringLiteral("%1 is longer than one line of credentials").arg(path);
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    const qsizetype colon = text.indexOf(':');
    if (text.contains('\n') || colon <= 0)
        return QStringLiteral("%1 holds no one line \"user:password\"").arg(path);
    return Credentials{QString::fromUtf8(text.left(colon)), QString::fromUtf8(text.mid(colon + 1))};
}

QString defaultUnitName()
{
    QString name = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0).left(64);
    for (QChar &c : name)
        if (!remote::isUnitNameCharacter(c))
            c = QLatin1Char('_');
    return remote::isUnitName(name) ? name : QStringLiteral("panel");
}

QString unitTopic(const QString &unit, const QString &leaf)
{
    return QStringLiteral("veloxa2/") + unit + QLatin1Char('/') + leaf;
}

} // namespace veloxa::broker
