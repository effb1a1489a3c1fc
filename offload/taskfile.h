#pragma once

#include <cstdio>
#include <vector>

#include "taskrecord.h"

struct DiskTask;

// Task files: the 1888-byte record followed by one 260-byte entry per file.
namespace TaskFile {

// A count beyond this is refused before anything is allocated (a card holds far fewer files).
constexpr int MaxFiles = 1 << 20;

// Lists the source folder and writes the task file with files done 0.
int build(DiskTask *task);
// Reads a task file image of length bytes: header, checks, entries. -1 with a message printed
// for a short, inconsistent or absurd file; nothing is allocated beyond what the length holds.
int read(FILE *file, long long length, const char *name, TaskRecord *header,
         std::vector<char> *entries);
// Opens the task's file, loads the list and keeps the file open for updates.
int load(DiskTask *task);
// Rewrites the record at offset 0 and pushes it to the disk.
int update(DiskTask *task);
void close(DiskTask *task);

} // namespace TaskFile
