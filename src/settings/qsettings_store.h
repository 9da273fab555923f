#pragma once

#include "settings/store.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#ifndef Q_OS_WIN

namespace veloxa::settings {

// The store on Linux and macOS: QSettings in native format for organisation
// "KW" and application "Veloxa" (on Linux $XDG_CONFIG_HOME/KW/Veloxa.conf,
// by default ~/.config/KW/Veloxa.conf), values at the top level under their
// exact names, a new QSettings object for every call, nothing cached here.
//
// Nothing the file holds is ever lost:
// - A file that cannot be read cleanly (QSettings reports an error, its text
//   would not survive a rewrite, or the path is not a readable regular file)
//   reads as not found for every name, and before the next write it is moved
//   aside to "<file>.damaged-<UTC time>" (never replacing an earlier one); if
//   it cannot be moved aside, the write fails and the file stays as it was.
// - Every write is checked by parsing the new file afresh; when it does not
//   hold exactly the old values plus the new one (Qt 6.4 commits a truncated
//   file and reports success when the final flush fails, e.g. on a full disk),
//   the previous file is put back and write reports false.
//
// Values of other types than text read as found with this text, then pass the
// same found / not-found rule as any text (stored_value.h):
// - a list (an unquoted "a, b" in the file): its items' texts joined by ", ";
// - a number, a truth value, a byte array, a date: Qt's text form of it
//   ("80", "true", the bytes as UTF-8, ISO 8601);
// - a point, size or rectangle: its numbers separated by blanks ("1 2 3 4");
// - anything else (an @Invalid() value, a map, a type Qt cannot read): the
//   empty text, i.e. not found.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // A store kept in the given file instead of the user's location.
    explicit QSettingsStore(QString filePath);

    ReadResult read(const QString &name) const override;
    bool write(const QString &name, const QString &text) override;

    QString filePath() const { return m_filePath; }

private:
    QString m_filePath;
};

// How a store file's bytes hold up when QSettings reads them as an INI file.
enum class IniTextCheck {
    Clean,
    // QSettings reports FormatError for it: a "[" line without "]", or a line
    // that is neither a "key=value" line, a section line nor a ";" comment.
    FormatError,
    // QSettings reads it without complaint, but rewriting it would change or
    // drop what it holds: a NUL byte, bytes that are not UTF-8, text after
    // the "]" of a section line, an empty section name, or a quote still open
    // at the end of the file.
    Lossy,
};

// Decided from the bytes alone, so the answer does not depend on what QSettings
// happens to remember about the file from an earlier read in this process.
IniTextCheck checkIniText(QByteArrayView bytes);

} // namespace veloxa::settings

#endif // Q_OS_WIN
