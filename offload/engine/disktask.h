#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archivehash.h"
#include "outcomecodes.h"
#include "taskrecord.h"

class CardPrefetch;
struct DiskTask;

// The task the engine's steps (the copy loop, the plain copy, the volume steps, the side files)
// pass between them, apart from the loop that calls the steps, so that a step includes this and
// not the loop.

// Per-file steps the owner of an offload plugs into the engine (photo tagging, the photo
// information table, sortie folders). Every pointer may be null; all run on the engine thread.
struct PhotoStep
{
    void *context = nullptr;
    // Sortie number (1, 2, ...) of photo index, or 0 for none; the copy then goes to
    // "<camera folder>/第N架次/". Only asked in plain mode.
    int (*sortieOf)(void *context, int camera, int photoIndex) = nullptr;
    // The photo's beginning, held in memory before it is written (its segments up to the
    // image data, see EngineFile::readHead): return 1 to write header in place of the first
    // *replaced bytes of data (the rest of the file follows unchanged), 0 to write it as it is.
    // targetPath names the file or archive entry it becomes.
    int (*tag)(void *context, int camera, int photoIndex, const char *targetPath,
               const unsigned char *data, size_t size, std::vector<unsigned char> *header,
               size_t *replaced) = nullptr;
    // The photo is on the disk and verified; data is its beginning as written (see tag), or
    // null when that is not at hand.
    void (*filed)(void *context, int camera, int photoIndex, const char *targetPath,
                  const unsigned char *data, size_t size) = nullptr;
};

// Volume mode's steps on a camera's archives ("pack1.zip", ...). The zip room provides them
// (ZipVolume::steps()) and the owner of an offload plugs them in beside the photo steps, so that
// the engine packing a file knows the archives only through this table. Results are
// EngineFile::Result values or 0 / -1, as ZipVolume names them.
struct VolumeStep
{
    int (*pack)(DiskTask *task, int index) = nullptr;
    // An append that a crash interrupted is undone; 0 when the archive is usable.
    int (*recover)(DiskTask *task) = nullptr;
    // The entry just added stays whatever files done says.
    void (*settle)(DiskTask *task) = nullptr;
    // The last archive is complete: its line goes into the checksum list.
    int (*finish)(DiskTask *task) = nullptr;
};

// A file of the card that was not copied, and why.
struct FileProblem
{
    std::string relative; // below the source folder
    std::string reason;
    int index = -1;       // its entry in the list; -1 for a file that has none (skipped)
    // What happened as the operator is told of it (OperatorOutcome::Code, 0: not known) and the
    // system's error number, beside the English reason.
    int code = 0;
    int sysError = 0;
};

// One camera's offload: the on-disk record plus what only exists while the program runs.
// The GUI thread writes running and reads filesDone, fileCount, stopped and bytesDone without
// locks; the engine thread writes the others.
struct DiskTask
{
    TaskRecord record{};
    PhotoStep step;
    VolumeStep volumes; // set for volume mode
    int verify = 1;               // re-read every copy from the disk and compare hashes
    // Plain mode: per entry, its copy's path below the camera folder where that is not the card's
    // (empty: every copy keeps its card name); see CopyNames. foldsCase: the target folds case.
    std::vector<std::string> copyNames;
    bool foldsCase = false;

    std::atomic<int> running{0};
    std::atomic<int> stopped{1};
    std::atomic<int> fileCount{0};
    std::atomic<int> filesDone{0};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<int> failed{0}; // the thread ended on an error; error holds its text
    char error[768] = {};
    // The same as the operator is told of it (OutcomeCodes, 0: not known) and the system's error
    // number; EngineFile::failAs sets them, fail clears them.
    int errorCode = 0;
    int errorErrno = 0;

    // Files the card would not give (read or open errors while the card itself stayed), passed
    // over so that the rest is copied, and files too long for an entry. Written by the engine
    // thread, read by others through fileProblems(); kept in the side file FailedFiles names.
    std::mutex problemLock;
    std::vector<FileProblem> failedFiles; // by index, all below filesDone
    std::vector<FileProblem> skippedFiles;
    // The source folder as it was when the task was loaded: a failing file whose folder is
    // no longer this one means the card went, not that one photo is bad.
    uint64_t sourceDevice = 0;
    uint64_t sourceInode = 0;
    bool directWrites = true; // the card is another disk than the target (SyncIo::sameDisk)
    std::vector<int> retries; // failed entries a resumed thread tries first
    bool problemsDamaged = false; // the side file of failed files could not be read whole

    // The backup target's camera folder (empty: none). Each copy goes there too, from the same
    // read of the card, verified against the same hash and listed in that folder's own checksum
    // list. The backup never stops the first target: on its first failure it is given up for
    // the run (backupStopped, backupError says why) and a resume fills in what it lacks.
    std::string backupFolder;
    uint64_t backupDevice = 0; // of backupFolder when the task was set up: a disk taken away
                               // leaves its mount point, which is never written in its stead
    std::atomic<int> backupStopped{0};
    std::mutex backupLock;
    std::string backupError;

    FILE *taskFile = nullptr;
    std::vector<char> fileList; // fileCount entries of TaskLayout::EntrySize bytes
    std::vector<unsigned char> buffer;
    // The beginning of the volume step's photo, held in memory (see EngineFile::readHead).
    std::vector<unsigned char> held;
    ArchiveHash archiveHash; // the current archive summed as far as it was read back
    CardPrefetch *prefetch = nullptr; // the card's read-ahead while the copy loop runs
    std::thread thread;

    DiskTask() = default;
    DiskTask(const DiskTask &) = delete;
    DiskTask &operator=(const DiskTask &) = delete;
    ~DiskTask(); // stops the thread and closes the task file
};

// The entry text (source folder, "/", relative path) of file index.
const char *taskEntry(const DiskTask *task, int index);
// Path of entry index below the source folder ("a.jpg", "100CANON/b.jpg").
std::string taskRelativePath(const DiskTask *task, int index);
// Files done that are on the target: files done less the files that failed.
int taskFilesCopied(DiskTask *task);
// A copy of the failed and skipped files, for any thread.
void fileProblems(DiskTask *task, std::vector<FileProblem> *failed,
                  std::vector<FileProblem> *skipped);
// The backup is given up for this run; the first reason is kept. Any thread.
void stopBackup(DiskTask *task, const std::string &why);
// Why the backup was given up, empty while it goes on (or when there is none). Any thread.
std::string backupProblem(DiskTask *task);
