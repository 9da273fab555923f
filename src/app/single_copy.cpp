#include "app/single_copy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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

} // namespace veloxa::app
