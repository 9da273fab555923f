#pragma once
// Looking at store files from a test: their bytes, what a folder holds, and
// what a QSettings that has never seen the file makes of it (QSettings keeps
// what it parsed per path within a process, so it parses a fresh copy); and a
// store filled with values before a test or a benchmark uses it.

#include "core/settings/store.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>

#include <cctype>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace veloxa::test {

// Every value name the panel stores.
inline QStringList storeNames()
{
    namespace n = settings::names;
    return {n::Left, n::Top,      n::IpAddress, n::Frequency,   n::SystemClock, n::Polarity, n::DisplayContrast,
            n::Gain, n::RampRate, n::RampStep,  n::RampStopFreq};
}

// A key as QSettings writes it in an INI file: bytes other than letters,
// digits, '_', '-' and '.' as %XX.
inline QByteArray iniKey(const QString &name)
{
    QByteArray key;
    for (const char c : name.toUtf8()) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.')
            key += c;
        else
            key += '%' + QByteArray::number(static_cast<unsigned char>(c), 16).toUpper().rightJustified(2, '0');
    }
    return key;
}

// An INI file with the values' bytes exactly as given, one "key=value" line each.
using IniValues = QMap<QString, QByteArray>;
inline QByteArray iniFile(const IniValues &values, const QByteArray &section = "General")
{
    QByteArray file = '[' + section + "]\n";
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file += iniKey(it.key()) + '=' + it.value() + '\n';
    return file;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool putBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

// Every name in a folder, hidden ones included, sorted.
inline QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The damaged files kept aside beside a store named `file` (default Veloxa.conf).
inline QStringList keptAside(const QString &dir, const QString &file = QStringLiteral("Veloxa.conf"))
{
    return QDir(dir).entryList({file + QStringLiteral(".damaged-*")}, QDir::AllEntries | QDir::Hidden | QDir::System,
                               QDir::Name);
}

// The names a store folder may hold besides the damaged copies: the file and
// its one permanent lock file.
inline QStringList storeAndLock(const QString &file = QStringLiteral("Veloxa.conf"))
{
    return {file, file + QStringLiteral(".lock")};
}

// The store's lock taken as another writer takes it (flock on "<file>.lock").
class HeldLock {
public:
    explicit HeldLock(const QString &storePath)
        : m_fd(::open(QFile::encodeName(storePath + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC,
                      0644))
    {
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            release();
    }
    ~HeldLock() { release(); }
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;
    bool isHeld() const { return m_fd >= 0; }
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

struct QtParsed {
    QSettings::Status status = QSettings::NoError;
    QStringList keys; // top-level keys
    QStringList groups; // sections
    QMap<QString, QVariant> values; // every key
};

// What a fresh QSettings makes of these bytes.
class QtParser {
public:
    QtParsed parse(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("parse-%1.conf").arg(++m_count));
        QtParsed parsed;
        if (!putBytes(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        QSettings settings(path, QSettings::IniFormat);
        for (const QString &key : settings.allKeys()) // a line "=5" gives an empty name
            parsed.values.insert(key, key.isEmpty() ? QVariant() : settings.value(key));
        parsed.keys = settings.childKeys();
        parsed.groups = settings.childGroups();
        parsed.status = settings.status();
        return parsed;
    }

    // The bytes QSettings writes for these top-level values, in a fresh file.
    QByteArray written(const QMap<QString, QVariant> &values)
    {
        const QString path = m_dir.filePath(QStringLiteral("write-%1.conf").arg(++m_count));
        {
            QSettings settings(path, QSettings::IniFormat);
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                settings.setValue(it.key(), it.value());
        }
        return fileBytes(path);
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

// What the store's unit tests share: a fresh folder for every test function
// (call freshFolder() from init(); the last one goes with the test object),
// the store's path in it, and a QSettings to hold the store's files against.
class StoreTestFolder {
protected:
    void freshFolder()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    QString storePath() const { return m_dir->filePath(QStringLiteral("Veloxa.conf")); }
    QtParsed parse(const QByteArray &bytes) { return m_qt.parse(bytes); }

    QtParser m_qt;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// Writes the values through `store`, in this order, and waits until they are
// on the disk. False when the store refused one or did not finish in time.
inline bool seedStore(settings::SettingsStore &store, const QList<std::pair<QString, QString>> &values,
                      int waitMs = 20000)
{
    for (const auto &[name, text] : values)
        if (!store.write(name, text))
            return false;
    return store.waitForWrites(waitMs);
}

} // namespace veloxa::test
