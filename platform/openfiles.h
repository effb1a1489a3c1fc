#pragma once

// The number of files the process may hold open. Five cards of small photos are read ahead and
// written several files at a time per camera, more than a desktop session's usual soft limit
// of 1,024 leaves room for once libraries and threads have theirs.
namespace OpenFiles {

// Raises the soft limit to the hard one; where the system refuses, the limit stays as it was
// (the card read-ahead sizes itself by whatever limit is in force).
void raiseToHardLimit();

} // namespace OpenFiles
