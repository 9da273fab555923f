#pragma once

#include <QString>

namespace veloxa::settings {

// An exclusive advisory lock (flock) on one small file that stays in place
// for good. The kernel drops the lock when its holder ends, however it ends,
// so it is never stale and nothing needs to be removed after a crash.
//
// The file is "<store>.lock", the name QSettings' QLockFile uses: QLockFile
// takes the same flock on it while it holds it, so a Qt program writing the
// store through QSettings and this store keep out of each other's way. When
// such a program takes the file for a stale lock and removes it, the lock
// taken here may sit on a file that no longer has the name; it is taken again
// on the file that has it now.
class FileLock {
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Waits at most waitMs for the lock; false when it could not be had
    // (held by another writer all that time, or the file cannot be made).
    bool acquire(int waitMs);
    void release();
    bool isHeld() const { return m_fd >= 0; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace veloxa::settings
