#include "settings/qsettings_store.h"

#ifndef Q_OS_WIN

#include "settings/stored_value.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QPoint>
#include <QPointF>
#include <QRandomGenerator>
#include <QRect>
#include <QRectF>
#include <QSettings>
#include <QSize>
#include <QSizeF>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Why the store does more than hand each call to QSettings (found with Qt 6.4):
// - QSettings keeps the parsed contents of every file it has read, keyed by
//   path, and a later QSettings object for an unchanged file reuses them
//   without parsing again; its status() then says NoError even when the file
//   has a format error. Damage is therefore judged from the file's bytes on
//   every call (checkIniText), and QSettings' own status is checked as well.
// - A file with a format error is rewritten on the next save with whatever
//   QSettings made of it, losing the rest; hence the move aside before writing.
// - QSettings writes through QSaveFile (a temporary file renamed over the old
//   one), but when the last flush fails it still renames the short temporary
//   file into place and reports success. Each write is therefore checked and,
//   when the new file is not right, undone from a hard link to the old file.
// - QSettings waits without limit for its lock file "<file>.lock" when it
//   cannot be taken or removed (e.g. it is a directory); the store first tries
//   the lock itself with a time limit.

namespace veloxa::settings {

namespace {

#ifdef Q_OS_DARWIN
constexpr bool kNativeFormatIsIni = false; // a property list
#else
constexpr bool kNativeFormatIsIni = true;
#endif

// Eleven values of at most 1024 bytes each make a file of a few kilobytes; a
// much bigger file is not one this program wrote.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

// How long a write waits for another writer's lock on the file.
constexpr int kLockWaitMs = 1000;

QString userStorePath()
{
#ifdef Q_OS_DARWIN
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KW"), QStringLiteral("Veloxa"))
        .fileName();
#else
    // The location QSettings uses for organisation "KW", application "Veloxa".
    // Worked out here on every construction because QSettings works it out
    // once per process and would not follow a later change of XDG_CONFIG_HOME.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/KW/Veloxa.conf");
#endif
}

// --- The INI text as QSettings reads it ------------------------------------

bool isIniBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isIniSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

struct IniLine {
    QByteArrayView text;   // from its first non-blank character
    qsizetype equals = -1; // index in text of the first '=' outside quotes
    bool quoteOpen = false; // the line runs to the end of the data inside quotes
};

// Splits the text into lines exactly as QSettings does: a line ends at a line
// break or at a ';' outside quotes; inside quotes a line break does not end
// it; a backslash takes the next character with it; a line starting with ';'
// is a comment and skipped.
bool nextIniLine(QByteArrayView data, qsizetype &pos, IniLine &line)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    qsizetype equals = -1;
    qsizetype start = pos;
    while (start < size && isIniBlank(data[start]))
        ++start;

    qsizetype i = start;
    while (i < size) {
        const char ch = data[i];
        ++i;
        if (!isIniSpecial(ch))
            continue;
        if (ch == '=') {
            if (!inQuotes && equals == -1)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char escaped = data[i++];
                if (i < size) {
                    const char after = data[i];
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else { // ';'
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && isIniBlank(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }

    pos = i;
    line.text = data.sliced(start, i - start);
    line.equals = equals < 0 ? -1 : equals - start;
    line.quoteOpen = inQuotes && i == size;
    return !line.text.isEmpty();
}

bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

// --- Values ----------------------------------------------------------------

QString numbersText(std::initializer_list<double> numbers)
{
    QStringList parts;
    for (const double number : numbers)
        parts.append(QVariant(number).toString());
    return parts.join(u' ');
}

QString valueText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return {};
    case QMetaType::QStringList:
        return value.toStringList().join(QStringLiteral(", "));
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant &item : value.toList())
            parts.append(valueText(item));
        return parts.join(QStringLiteral(", "));
    }
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return numbersText({double(p.x()), double(p.y())});
    }
    case QMetaType::QPointF: {
        const QPointF p = value.toPointF();
        return numbersText({p.x(), p.y()});
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return numbersText({double(s.width()), double(s.height())});
    }
    case QMetaType::QSizeF: {
        const QSizeF s = value.toSizeF();
        return numbersText({s.width(), s.height()});
    }
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return numbersText({double(r.x()), double(r.y()), double(r.width()), double(r.height())});
    }
    case QMetaType::QRectF: {
        const QRectF r = value.toRectF();
        return numbersText({r.x(), r.y(), r.width(), r.height()});
    }
    default:
        break;
    }
    if (value.canConvert<QString>())
        return value.toString();
    return {};
}

using KeyValues = QMap<QString, QVariant>;

// Whether QSettings writes these names back as they are: it files a name
// with a leading, trailing or doubled '/' (from a backslash in a name or an
// odd section line) under another name, and an empty name ("=5") is no name.
bool namesSurviveRewrite(const QStringList &keys)
{
    for (const QString &key : keys) {
        if (key.isEmpty() || key.startsWith(u'/') || key.endsWith(u'/') || key.contains(QStringLiteral("//")))
            return false;
    }
    return true;
}

// All values by name; nothing when a name would not survive a rewrite.
std::optional<KeyValues> allValues(const QSettings &settings)
{
    const QStringList keys = settings.allKeys();
    if (!namesSurviveRewrite(keys))
        return std::nullopt;
    KeyValues values;
    for (const QString &key : keys)
        values.insert(key, settings.value(key));
    return values;
}

// Whether two sets of values read the same through this store. Compared as
// texts because a rewrite may change a value's type without changing its
// text (a list holding an item that starts with '@' comes back as a plain
// list of texts).
bool sameValues(const KeyValues &a, const KeyValues &b)
{
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.constBegin(); it != a.constEnd(); ++it) {
        const QVariant &other = b.value(it.key());
        if (!(it.value() == other) && valueText(it.value()) != valueText(other))
            return false;
    }
    return true;
}

// --- The file ----------------------------------------------------------------

enum class FileState { Missing, Clean, Damaged };

struct StoreFile {
    FileState state = FileState::Missing;
    QByteArray bytes;
};

StoreFile inspect(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {}; // nothing there (or a symbolic link to nothing)
    if (!info.isFile() || !info.isReadable() || info.size() > kMaxFileBytes)
        return {FileState::Damaged, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {FileState::Damaged, {}};
    QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxFileBytes)
        return {FileState::Damaged, {}};
    if (kNativeFormatIsIni && checkIniText(bytes) != IniTextCheck::Clean)
        return {FileState::Damaged, {}};
    return {FileState::Clean, std::move(bytes)};
}

bool pathTaken(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 || errno != ENOENT;
}

// Renames without ever replacing what is already at the new name.
bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    // The file system cannot do it in one step.
#endif
    if (pathTaken(target))
        return false;
    return ::rename(source.constData(), target.constData()) == 0;
}

// Moves a damaged file (or directory, or whatever is there) out of the way to
// "<file>.damaged-<UTC time>", with a counter added if that name is taken.
bool moveAside(const QString &path)
{
    const QString stem = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString aside = attempt == 1 ? stem : stem + u'-' + QString::number(attempt);
        if (renameNoReplace(path, aside))
            return true;
        if (!pathTaken(QFile::encodeName(aside)))
            return false; // failed for another reason than the name
    }
    return false;
}

QString randomName(const QString &path, QLatin1StringView tag)
{
    return path + u'.' + tag + u'-' + QString::number(QRandomGenerator::global()->generate64(), 36);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxFileBytes + 1);
}

// A second name for the file at path holding exactly its bytes: a hard link
// where the file system has them, else a copy. Empty on failure.
QString twin(const QString &path, QLatin1StringView tag, const QByteArray &expectedBytes)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = randomName(path, tag);
        const QByteArray target = QFile::encodeName(name);
        if (pathTaken(target))
            continue;
        if (::link(QFile::encodeName(path).constData(), target.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            if (!QFile::copy(path, name))
                return {};
        }
        if (fileBytes(name) == expectedBytes)
            return name;
        QFile::remove(name);
        return {};
    }
    return {};
}

// Whether the file at path holds exactly these values, judged by a QSettings
// parse of it under a name no QSettings object has seen before.
bool holdsExactly(const QString &path, const KeyValues &expected)
{
    const QByteArray bytes = fileBytes(path);
    if (kNativeFormatIsIni && checkIniText(bytes) != IniTextCheck::Clean)
        return false;
    const QString check = twin(path, QLatin1StringView("check"), bytes);
    if (check.isEmpty())
        return false;
    bool same = false;
    {
        QSettings settings(check, QSettings::NativeFormat);
        const auto actual = allValues(settings);
        same = settings.status() == QSettings::NoError && actual && sameValues(*actual, expected);
    }
    QFile::remove(check);
    return same;
}

// Whether QSettings would get its lock on the file without waiting long; it
// waits for ever for a lock it can neither take nor remove.
bool lockAvailable(const QString &path)
{
    const QString lockPath = path + QStringLiteral(".lock");
    const QFileInfo lockInfo(lockPath);
    if (!lockInfo.exists())
        return true; // the usual case: nobody holds it, QSettings takes it at once
    if (!lockInfo.isFile())
        return false;
    QLockFile lock(lockPath);
    // A lock file that names no owner (its writer was killed between creating
    // and filling it) would count as stale only after QLockFile's default of
    // 30 s, and every write would fail until then. A live holder's lock is
    // never taken: QLockFile removes a stale file only when it can lock it.
    lock.setStaleLockTime(kLockWaitMs / 2);
    if (!lock.tryLock(kLockWaitMs))
        return false;
    lock.unlock();
    return true;
}

} // namespace

IniTextCheck checkIniText(QByteArrayView bytes)
{
    QByteArrayView data = bytes;
    if (data.startsWith("\xef\xbb\xbf")) // QSettings skips a UTF-8 byte order mark
        data = data.sliced(3);

    bool lossy = false;
    qsizetype pos = 0;
    IniLine line;
    while (nextIniLine(data, pos, line)) {
        if (line.text.startsWith('[')) {
            const qsizetype close = line.text.indexOf(']');
            if (close < 0)
                return IniTextCheck::FormatError;
            // QSettings ignores what follows "]" and files keys of "[]" under "/".
            if (line.text.sliced(1, close - 1).trimmed().isEmpty() || !line.text.sliced(close + 1).trimmed().isEmpty())
                lossy = true;
        } else if (line.equals < 0 && !line.text.startsWith(';')) {
            return IniTextCheck::FormatError;
        }
        // An open quote swallows the rest of the file into one value.
        if (line.quoteOpen)
            lossy = true;
    }
    // QSettings turns bytes that are not UTF-8 into U+FFFD; a NUL byte is
    // never part of the text QSettings writes.
    if (lossy || bytes.contains('\0') || !isUtf8(bytes))
        return IniTextCheck::Lossy;
    return IniTextCheck::Clean;
}

QSettingsStore::QSettingsStore()
    : m_filePath(userStorePath())
{
}

QSettingsStore::QSettingsStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

ReadResult QSettingsStore::read(const QString &name) const
{
    if (m_filePath.isEmpty() || name.isEmpty() || inspect(m_filePath).state != FileState::Clean)
        return {};
    QSettings settings(m_filePath, QSettings::NativeFormat);
    // Parses every section, so that a format error anywhere shows.
    if (!namesSurviveRewrite(settings.allKeys()) || settings.status() != QSettings::NoError)
        return {};
    const QVariant value = settings.value(name);
    if (settings.status() != QSettings::NoError)
        return {};
    const QByteArray bytes = valueText(value).toUtf8();
    const auto text = acceptStoredBytes(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!text)
        return {};
    return {true, QString::fromStdString(*text)};
}

bool QSettingsStore::write(const QString &name, const QString &text)
{
    if (m_filePath.isEmpty() || name.isEmpty())
        return false;
    const QFileInfo target(m_filePath);
    if (!QDir().mkpath(target.absolutePath()) || !lockAvailable(m_filePath))
        return false;

    StoreFile current = inspect(m_filePath);
    KeyValues expected;
    if (current.state == FileState::Clean) {
        QSettings before(m_filePath, QSettings::NativeFormat);
        const auto values = allValues(before);
        if (values && before.status() == QSettings::NoError)
            expected = *values;
        else
            current.state = FileState::Damaged;
    }
    if (current.state == FileState::Damaged) {
        if (!moveAside(m_filePath))
            return false;
        current.state = FileState::Missing;
        expected.clear();
    }

    // The previous file stays reachable under a second name until the new one
    // has been checked.
    QString previous;
    if (current.state == FileState::Clean) {
        previous = twin(m_filePath, QLatin1StringView("previous"), current.bytes);
        if (previous.isEmpty())
            return false;
    }

    expected.insert(name, QVariant(text));
    bool ok = false;
    {
        QSettings settings(m_filePath, QSettings::NativeFormat);
        if (settings.status() == QSettings::NoError) {
            settings.setValue(name, text);
            settings.sync();
            ok = settings.status() == QSettings::NoError;
        }
    }
    if (ok)
        ok = holdsExactly(m_filePath, expected);

    const QByteArray path = QFile::encodeName(m_filePath);
    if (!previous.isEmpty()) {
        const QByteArray kept = QFile::encodeName(previous);
        if (ok) {
            ::unlink(kept.constData());
        } else if (::rename(kept.constData(), path.constData()) == 0) {
            // Also removes the second name where the write never replaced the
            // file (rename between two names of one file does nothing).
            ::unlink(kept.constData());
        }
    } else if (!ok) {
        // There was no file before this write: remove what it left behind.
        struct stat st;
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.constData());
    }
    return ok;
}

} // namespace veloxa::settings

#endif // Q_OS_WIN
