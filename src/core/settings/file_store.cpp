#include "core/settings/file_store.h"

#include "core/settings/careful_write.h"
#include "core/settings/file_lock.h"
#include "core/settings/ini_text.h"
#include "core/settings/stored_text.h"
#include "core/settings/stored_value.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace veloxa::settings {

namespace {

// Looks kept at a file that does not parse, kReDamageLookMs apart, before a
// write gives up on one that keeps changing.
constexpr int kMostLooks = 10;

ReadResult accepted(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const auto kept = acceptStoredBytes(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!kept)
        return {};
    return {true, QString::fromStdString(*kept)};
}

bool modifiedJustNow(const careful::Look &file)
{
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1000000;
    return std::abs(nowNs - file.modifiedNs) < qint64(FileStore::kSettleMs) * 1000000;
}

} // namespace

// The values a careful write starts from: the file's, once it has been seen
// parse and stand still, or none once a damaged file has been moved aside;
// nothing when the write must not go on. keepMode: the permission bits the
// new file takes (-1: a first file).
std::optional<ini::Document> FileStore::startingValues(const QString &path, careful::Look current, int &keepMode) const
{
    for (int lookNo = 1;; ++lookNo) {
        keepMode = -1;
        if (current.state == careful::Look::Missing)
            return ini::Document();
        std::optional<ini::Document> values;
        if (current.state == careful::Look::Readable) {
            ini::Document::Parsed parsed = ini::Document::parse(current.bytes);
            if (parsed.damage == ini::Damage::None) {
                values = std::move(parsed.document);
                keepMode = int(current.mode & 07777);
            }
        }
        // A file that parses may still be one another program is halfway
        // through rewriting in place, cut off after a whole line; one it
        // changed a moment ago gets a second look. This store's own last
        // file needs none.
        const bool ours = current.device == m_lastWritten.device && current.inode == m_lastWritten.inode
            && current.modifiedNs == m_lastWritten.modifiedNs;
        if (values && (ours || !modifiedJustNow(current)))
            return values;
        if (lookNo >= kMostLooks)
            return std::nullopt; // still changing: leave it to whoever is at it
        QThread::msleep(values ? kSettleMs : kReDamageLookMs);
        careful::Look again = careful::look(path);
        if (again.state != careful::Look::Missing && again.sameAs(current)) {
            if (values)
                return values; // it stood still
            // Twice the same and unusable: damaged, not being rewritten.
            keepMode = -1;
            if (!careful::moveAside(path))
                return std::nullopt;
            return ini::Document();
        }
        current = std::move(again);
    }
}

ReadResult readBack(const QString &text)
{
    return accepted(ini::valueText(ini::escapedText(text)));
}

QString FileStore::userStorePath(const QString &unit)
{
    // The location QSettings uses for organisation "KW", application "Veloxa"
    // (or "Veloxa-<unit>").
    const QString application = unit.isEmpty() ? QStringLiteral("Veloxa") : QStringLiteral("Veloxa-") + unit;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/KW/")
        + application + QStringLiteral(".conf");
}

FileStore::FileStore()
    : m_filePath(userStorePath())
{
}

FileStore::FileStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

ReadResult FileStore::read(const QString &name) const
{
    if (m_filePath.isEmpty() || name.isEmpty())
        return {};
    const careful::Look file = careful::look(m_filePath);
    if (file.state != careful::Look::Readable)
        return {};
    const ini::Document::Parsed parsed = ini::Document::parse(file.bytes);
    if (parsed.damage != ini::Damage::None)
        return {};
    const auto raw = parsed.document.raw(name);
    if (!raw)
        return {};
    return accepted(ini::valueText(*raw));
}

bool FileStore::write(const QString &name, const QString &text)
{
    return writeAll({{name, text}});
}

bool FileStore::writeAll(const QList<QPair<QString, QString>> &values)
{
    if (m_filePath.isEmpty())
        return false;
    for (const auto &value : values)
        if (value.first.isEmpty())
            return false;

    const QString path = careful::resolvedPath(m_filePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    FileLock lock(path + QStringLiteral(".lock"));
    if (!lock.acquire(kLockWaitMs))
        return false;

    const careful::Look before = careful::look(path);
    // A file its owner made read-only stays as it is.
    const QByteArray encoded = QFile::encodeName(path);
    if (before.state == careful::Look::Readable && ::access(encoded.constData(), W_OK) != 0)
        return false;
    int keepMode = -1;
    std::optional<ini::Document> document = startingValues(path, before, keepMode);
    if (!document)
        return false;
    for (const auto &[name, text] : values)
        document->setText(name, text);
    if (!careful::replace(path, document->text(), keepMode))
        return false;
    const careful::Look written = careful::look(path);
    m_lastWritten = {written.device, written.inode, written.modifiedNs};
    return true;
}

} // namespace veloxa::settings
