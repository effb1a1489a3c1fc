#pragma once

#include "disktask.h"

// The copy loop of one camera's task on its own thread: prepares, starts, pauses and resumes it,
// handing each file to the plain copy or to the volume steps.
// Results 0 or -1; disk is the camera number (0..5) used in the messages.
int createTask(DiskTask *task, int disk);
// createTask in two halves: build and load the task file, then start the thread. An offload
// of several cameras builds every task file before any copy starts.
int prepareTask(DiskTask *task, int disk);
int startTask(DiskTask *task, int disk);
int resumeTask(DiskTask *task, int disk);
// resumeTask in three parts, so that the owner can check the target between them: load the task
// file (or, with rebuild, write it anew from the source folder, files done 0) and repair an
// archive a crash cut short; then clear what a crash left beyond files done; then startTask.
int loadTask(DiskTask *task, int disk, bool rebuild);
int settleTask(DiskTask *task, int disk);
int pauseTask(DiskTask *task, int disk);

// Lines of files about to be written again (from entry from on, and the retries) leave the
// checksum list, so it never holds a path twice and never a hash of a copy being replaced.
// Called again when the copies' names are decided after the task was prepared.
void dropPendingLines(DiskTask *task, int from);
