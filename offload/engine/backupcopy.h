#pragma once

#include <cstdint>
#include <string>

struct DiskTask;

// The second target of an offload: a copy of each card file beside the first one, written from
// the same read of the card and verified against the same hash, so that a card is read once
// however many copies it gets. Nothing here may stop the first target: a failure gives the
// backup up for the run (stopBackup) and leaves the first copy as it is.
namespace BackupCopy {

// One file's copy on the backup while it is written, settled and named.
struct Copy
{
    std::string path;    // empty: no backup copy of this file
    std::string partial;
    int fd = -1;
    int settled = 0;     // EngineFile::Done, or Failed with failure set
    std::string failure;
    bool named = false;  // renamed into place: its line may be listed
    bool wanted() const { return !path.empty(); }
};

// Where the copy of relative (below the camera folder) goes, with the partial's file name
// the first target uses; no copy when the task has no backup or gave it up.
void locate(DiskTask *task, const std::string &relative, const std::string &partialName,
            Copy *copy);
// Creates (or empties, unless keep) the partial file; false when the backup was given up.
bool open(DiskTask *task, Copy *copy, bool keep = false);
// The copy fails: the backup is given up for the run with why, nothing of the copy is left.
void giveUp(DiskTask *task, Copy *copy, const std::string &why);
// Drops the partial without giving the backup up (the first copy failed as well).
void discard(Copy *copy);
// fdatasync through its own descriptor (or opened again); false with failure set.
bool sync(Copy *copy);
// After it was synced: reads the copy back as the disk holds it and compares it with hash.
void readBack(DiskTask *task, Copy *copy, uint64_t hash);
// Settled and verified: renamed into place; a failure gives the backup up.
void name(DiskTask *task, Copy *copy);

// Volume mode: the archive at relative (a file of the camera folder) changed from byte from on
// (an entry appended over the old directory, or a new archive from 0). Those bytes go to the
// backup's partial of it now, read from the cache the archive was just written through, so that
// when the archive is complete only the backup's flush and read-back are left (catchUp). A
// partial that does not fit is caught there by its read-back. A failure gives the backup up.
void follow(DiskTask *task, const std::string &relative, uint64_t from);

// Volume mode: the archive at relative is complete and listed on the first target; the
// backup's followed partial of it is flushed, read back against the listed hash, named and
// listed (copied over when it does not read back so), after whatever else the backup lacks of
// the first target's list (catchUp). Nothing is done when there is no such partial.
void complete(DiskTask *task, const std::string &relative);

// The backup's own truth: every copy the first target lists that the backup does not (by path
// and hash, the file present with the first copy's size) is copied from the first target,
// checked against the listed hash as it is read, then verified on the backup and listed there.
// The card is not read again. Returns the number of copies made; stops on the first failure
// (the backup is given up then) or when the task is paused.
int catchUp(DiskTask *task);

} // namespace BackupCopy
