#pragma once

#include <string>

struct DiskTask;

// Plain mode: one file of the list copied into the camera folder, on the disk and verified.
namespace PlainCopy {

// EngineFile::Done, Failed (task->error says why) or Paused (running was cleared meanwhile).
int copy(DiskTask *task, int index);
// Where entry index goes, relative to the camera folder (with its sortie folder if any).
std::string targetRelative(DiskTask *task, int index);
// Name of the partial copy written beside the final name until it is verified.
const char *partialSuffix();
// Removes the partial copy a crash may have left for entry index.
void removePartial(DiskTask *task, int index);

} // namespace PlainCopy
