#include "gui/app/single_copy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace veloxa::app {

QString singleCopyLockPath()
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    const QByteArray digest = QCryptographicHash::hash(program.canonicalFilePath().toUtf8(), QCryptographicHash::Sha1)
                                  .toHex()
                                  .left(12);
    return directory + QLatin1Char('/') + program.fileName() + QLatin1Char('-') + QString::fromLatin1(digest) +
           QStringLiteral(".lock");
}

bool takeSingleCopyLock(QLockFile &lock)
{
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return true;
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (lock.error() != QLockFile::LockFailedError || lock.getLockInfo(&pid, &hostName, &appName))
        return false;
    // A starting copy fills its lock file microseconds after creating it, and
    // holds it locked meanwhile (removeStaleLockFile fails on a held file).
    const QDateTime modified = QFileInfo(lock.fileName()).lastModified();
    if (!modified.isValid() || modified.msecsTo(QDateTime::currentDateTime()) < 1000)
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

} // namespace veloxa::app
