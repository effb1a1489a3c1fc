#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disktask.h"

// Volume mode: the photos of a camera go into "pack1.zip", "pack2.zip", ... in its folder.
// An archive grows by appending; before each append the tail of the archive (central directory
// and end records) is saved in a journal beside the task file, so that an append cut short by
// a crash is undone on resume and no photo already counted is lost with the archive.
namespace ZipVolume {

// "pack1" or "pack2.zip" -> "pack2.zip" / "pack3.zip": the number after the last "k", plus one.
std::string nextName(const char *currentName);

// Adds entry index to the current archive (starting a new volume when it has reached the
// volume size). EngineFile::Done, Failed or Paused; the archive is unchanged unless Done.
int pack(DiskTask *task, int index);

// Undoes an append that a crash interrupted; called when a task is loaded. 0 when the current
// archive is usable (or there is none yet).
int recover(DiskTask *task);

// The entry just added stays whatever files done says: the journal is dropped.
void settle(DiskTask *task);

// The last archive is complete: its line goes into the checksum list.
int finish(DiskTask *task);

// pack, recover, settle and finish, for a task in volume mode (DiskTask::volumes).
VolumeStep steps();

} // namespace ZipVolume
