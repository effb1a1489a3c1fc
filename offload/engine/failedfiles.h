#pragma once

#include <map>
#include <string>
#include <vector>

struct DiskTask;
struct FileProblem;

// The side file beside a camera's task file ("center.log.failed") that keeps the files an
// offload passed over, so that a resume retries exactly those and the operator still sees the
// skipped ones. The task file's format is fixed; this file is the engine's own. Text lines:
// "F", a tab, the relative path, a tab and the reason, for a file that failed; "S", a tab and
// the relative path (a tab and the reason after it) for a file the list leaves out. In paths a backslash, a line break and a
// tab are written as a backslash followed by a backslash, "n" and "t".
// Written whole to a temporary file, synced and renamed; absent when there is nothing to keep.
namespace FailedFiles {

std::string path(const DiskTask *task);

// Writes the task's lists; 0 or -1 (errno kept).
int save(DiskTask *task);
// Reads the side file into the task's lists: failed files by their entry in the loaded list
// (paths no longer listed are dropped). A missing file is empty lists; 0 or -1 for a damaged one.
int load(DiskTask *task);
// The side file's text: failed files by indexOf (paths it lacks are dropped), skipped files as
// they are. 0, or -1 for damaged text (the lines before the damage are kept).
int parse(const std::string &content, const std::map<std::string, int> &indexOf,
          std::vector<FileProblem> *failed, std::vector<FileProblem> *skipped);

// The engine passes over entry index: kept with its reason, saved before files done moves on.
int note(DiskTask *task, int index, const std::string &reason);
// Entry index was copied on a retry.
int clear(DiskTask *task, int index);

std::string escape(const std::string &text);
bool unescape(const std::string &text, std::string *out);

} // namespace FailedFiles
