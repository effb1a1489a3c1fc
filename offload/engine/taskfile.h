#pragma once

#include <cstdio>
#include <string>
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
// why, when given, receives how the file is damaged.
int read(FILE *file, long long length, const char *name, TaskRecord *header,
         std::vector<char> *entries, std::string *why = nullptr);
// Whether entry names a file inside folder: folder, "/", then a relative path without empty,
// "." or ".." parts (a task file that says otherwise would copy from or to anywhere).
bool inside(const char *entry, const char *folder);
// Why the task file at path cannot be resumed from with source as its card folder; empty when
// it can (a missing file is not damaged, only missing: "missing").
std::string check(const char *path, const char *source);
// Opens the task's file, loads the list and keeps the file open for updates.
int load(DiskTask *task);
// Rewrites the record at offset 0 and pushes it to the disk.
int update(DiskTask *task);
void close(DiskTask *task);

} // namespace TaskFile
