#pragma once
// The steps of a careful write of the store file, each on its own: finding
// the file a path stands for, looking at it, moving a damaged one aside and
// replacing it as a whole.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace veloxa::settings::careful {

// Eleven values of at most 1024 bytes each make a file of a few kilobytes; a
// much bigger one is not one this program wrote.
inline constexpr qint64 kMaxFileBytes = qint64{1024} * 1024;

// The file a path stands for: symbolic links followed to the file they end
// at, which need not exist yet. A link (a dotfiles setup) thus stays a link,
// and the file it leads to is the one replaced. The path itself when the
// links go round in a circle or end at something that is not a file.
QString resolvedPath(const QString &path);

// One look at the file: opened, read and closed, never waiting (a named
// pipe in its place does not block).
struct Look {
    enum State {
        Missing, // nothing there, or a link that leads nowhere
        Readable, // a regular file of at most kMaxFileBytes, read whole
        Unusable, // something else: a folder, a pipe, unreadable, too big
    };
    State state = Missing;
    QByteArray bytes;
    // What the file was when read: a second look that finds the same file
    // with the same bytes saw it standing still.
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    qint64 size = -1;
    qint64 modifiedNs = -1;

    bool sameAs(const Look &other) const;
};
Look look(const QString &path);

// Renames whatever is at path to "<path>.damaged-<UTC time>" (a counter added
// when that name is taken), never replacing anything already there.
bool moveAside(const QString &path);

// Replaces the file at path with one holding exactly bytes: written in full to
// a new file in the same folder (unnamed until it is complete where the file
// system allows, else "<path>.being-written", a name left only by a writer
// killed in the middle and replaced by the next one), flushed to disk, then
// renamed over path in one step. keepMode: the permission bits of the file
// replaced, which the new one takes; -1 for a first file (0666 less the
// umask). On failure the file at path is untouched.
// Call it holding the store's lock: the name of the new file is shared.
bool replace(const QString &path, const QByteArray &bytes, int keepMode);

// The name replace() uses for a file not yet complete.
QString unfinishedName(const QString &path);

} // namespace veloxa::settings::careful
