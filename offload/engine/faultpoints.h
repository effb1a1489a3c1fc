#pragma once

struct DiskTask;

// Crash and fault injection for the reliability tests, configured by V7_OFFLOAD_FAULT:
// "camera:index:phase:action[:path]" items separated by ",". Phases, in the order a file
// passes them: "start" (nothing opened yet), "opened", "read" (the whole source read, not yet
// checked for a change), "written" (on the disk, not verified),
// "verified" (not renamed), "renamed" (not listed), "listed" (not counted); "backup-written"
// (the backup's copy of a plain offload, not verified). Actions: "kill"
// (SIGKILL to the process), "corrupt" (flip the last byte of the copy or archive, once),
// "corrupt-always", "wait" (hold the engine until path exists or the task is paused), "eio" and
// "eio-always" (at "opened": the source reads as a failing medium would).
// The end of an offload has steps of its own, "-1:0:<step>:kill": "blocks" (block files
// written), "report" (report and exports written), "outputs" (all synced, success not saved).
// Without the variable nothing happens.
namespace FaultPoints {

// The errno a read of the source shall fail with from here (EIO), else 0.
int hit(DiskTask *task, int index, const char *phase, const char *path);
// The offload's end at step (see above); only "kill" applies there.
void finishing(const char *step);
// How many faults have fired in this process, so a test can tell that its fault was reached.
int fired();

} // namespace FaultPoints
