#pragma once

#include "core/settings/careful_write.h"
#include "core/settings/ini_text.h"
#include "core/settings/store.h"

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace veloxa::settings {

// The store on Linux: one INI file that this class reads and writes itself,
// in the layout QSettings uses for organisation "KW", application "Veloxa"
// ($XDG_CONFIG_HOME/KW/Veloxa.conf, by default ~/.config/KW/Veloxa.conf),
// values at the top level under their exact names. Nothing is kept in memory
// between calls; every call works on the file as it is on the disk then.
//
// How the file is kept safe:
// - A read opens the file, reads it whole, parses it and closes it. A file
//   that does not parse (ini_text.h, Damage) reads as not found for every
//   name; so does anything that is not a readable regular file.
// - A write takes the lock "<file>.lock" (file_lock.h; waiting at most
//   kLockWaitMs), reads the file afresh under it, changes only its own
//   values and replaces the file as a whole (careful_write.h). Whatever
//   another process wrote before the lock was taken is read and kept; a
//   write that cannot complete leaves the old file byte for byte. The file
//   behind a symbolic link is the one replaced, and its lock lies beside it.
// - A file that does not parse is moved aside to "<file>.damaged-<UTC time>"
//   before a write, but only when a second look kReDamageLookMs later finds
//   it the same and still not parsing: an outside program may be halfway
//   through rewriting it. A file that keeps changing is left alone and the
//   write fails. When the move fails, nothing is written. A file that parses
//   but was changed by someone else less than kSettleMs ago is looked at
//   again, and used once it stands still: it may be cut off after a whole
//   line by a program rewriting it in place.
// - A file that exists but may not be written (read-only) is never replaced:
//   the write fails and the file keeps what it holds.
class FileStore final : public SettingsStore {
public:
    static constexpr int kLockWaitMs = 2000;
    static constexpr int kReDamageLookMs = 100;
    static constexpr int kSettleMs = 20;

    FileStore();
    explicit FileStore(QString filePath);

    ReadResult read(const QString &name) const override;
    bool write(const QString &name, const QString &text) override;
    // Several values in one replacement of the file, in this order (a name
    // given twice keeps its last text). All or none are written.
    bool writeAll(const QList<QPair<QString, QString>> &values);

    QString filePath() const { return m_filePath; }

    // Where the store lives for this user, worked out anew on every call; a
    // named unit's panel keeps its own, "KW/Veloxa-<unit>.conf" beside it.
    static QString userStorePath(const QString &unit = {});

private:
    std::optional<ini::Document> startingValues(const QString &path, careful::Look current, int &keepMode) const;

    QString m_filePath;
    // The file this store put in place last: no other program changed it.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        qint64 modifiedNs = -1;
    } m_lastWritten;
};

// The text a store read gives for a value written with this text: what the
// file will hold once the write is done, under the found / not-found rule.
ReadResult readBack(const QString &text);

} // namespace veloxa::settings
