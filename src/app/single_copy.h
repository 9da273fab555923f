#pragma once

#include <QString>

namespace veloxa::app {

// The lock that keeps a second copy of the panel from starting: one file per
// user, in the runtime location, named after the program file (its name and
// a digest of its full path, so two builds in different places do not block
// each other). QLockFile notices a lock left by a crashed copy and takes it over.
QString singleCopyLockPath();

} // namespace veloxa::app
