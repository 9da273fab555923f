#pragma once

#include <QLockFile>
#include <QString>

namespace veloxa::app {

// The lock that keeps a second copy of the panel from starting: one file per
// user, in the runtime location, named after the program file (its name and
// a digest of its full path, so two builds in different places do not block
// each other). QLockFile notices a lock left by a crashed copy and takes it over.
QString singleCopyLockPath();

// Takes the single-copy lock without waiting; false while another copy runs.
// A running copy holds its lock for as long as it runs, so the lock never
// goes stale by age. A lock left by a crashed copy is taken over: QLockFile
// does so when the file names a process that no longer runs; a file that
// names none (its copy was killed between creating and filling it) is taken
// over here once it is older than a second and no process holds it.
bool takeSingleCopyLock(QLockFile &lock);

} // namespace veloxa::app
