#pragma once

#include <string>

struct DiskTask;

// What of a camera's offload is in the target: the durable truth a resume starts from. The
// task file's files-done count only saves work: files below it are trusted after a cheap check
// (the copy is there with its line in the checksum list and, untagged, the card file's size),
// the files from it on are verified in full (the copy hashes to its line, and the line is the
// card file's hash, or for a tagged photo the picture after the header is the card's).
namespace TargetCheck {

// Plain mode: how many of the task's files, from the first, are done.
int plainDone(DiskTask *task, int hint);
// Volume mode: the same from the archives "pack1.zip"... of the camera folder (entry names in
// order, sizes and CRCs against the card files); the record is pointed at the last archive.
// note says why work already in the archives is not counted, when that happens.
int volumeDone(DiskTask *task, int hint, std::string *note);

} // namespace TargetCheck
