#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace veloxa::test {

// "A5 00 D8" -> the bytes.
inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

inline QString hex(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex(' ').toUpper());
}

// Datagrams as "A5 00 D8 B6 28 03 | 70 00", so a failed comparison reads well.
inline QString hexList(const QList<QByteArray> &datagrams)
{
    QStringList parts;
    for (const QByteArray &datagram : datagrams)
        parts << hex(datagram);
    return parts.join(QLatin1String(" | "));
}

} // namespace veloxa::test
