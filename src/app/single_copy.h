#pragma once

#include <QString>

namespace veloxa::app {

// The lock file that keeps a second copy of the panel from starting: one
// file per user, in the runtime location, named after the program file (its
// name and a digest of its full path, so two builds in different places do
// not block each other); a named unit's panel has its own, so that two units
// on one PC are two panels.
QString singleCopyLockPath(const QString &unit = {});

// An advisory lock (flock) on that file, held for as long as the panel runs.
// The kernel drops it when the copy ends, however it ends, so a crashed copy
// never keeps the next one from starting, and only a copy that is alive
// ends a start. The file stays in place for good. On Windows the guard is a
// named mutex of the user's session, named after that file: Windows closes
// it with the last process holding it, however that process ended.
class SingleCopy {
public:
    enum class Outcome {
        Only, // the lock is ours: no other copy runs
        AnotherRuns, // a live copy holds it
        Unguarded, // the lock could not be made or taken (problem() says why)
    };

    SingleCopy() = default;
    ~SingleCopy();
    SingleCopy(const SingleCopy &) = delete;
    SingleCopy &operator=(const SingleCopy &) = delete;

    Outcome take(const QString &lockPath);
    QString problem() const { return m_problem; }

private:
    int m_fd = -1;
    void *m_mutex = nullptr; // Windows: the handle of the named mutex
    QString m_problem;
};

} // namespace veloxa::app
