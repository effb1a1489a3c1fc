#include "disktask.h"

const char *taskEntry(const DiskTask *task, int index)
{
    return task->fileList.data() + size_t(index) * TaskLayout::EntrySize;
}

std::string taskRelativePath(const DiskTask *task, int index)
{
    const std::string entry = taskEntry(task, index);
    const std::string folder = std::string(task->record.source) + '/';
    if (entry.compare(0, folder.size(), folder) == 0)
        return entry.substr(folder.size());
    return entry.substr(entry.find_last_of('/') + 1);
}

int taskFilesCopied(DiskTask *task)
{
    std::lock_guard<std::mutex> guard(task->problemLock);
    return task->filesDone.load() - int(task->failedFiles.size());
}

void fileProblems(DiskTask *task, std::vector<FileProblem> *failed,
                  std::vector<FileProblem> *skipped)
{
    std::lock_guard<std::mutex> guard(task->problemLock);
    *failed = task->failedFiles;
    *skipped = task->skippedFiles;
}

void stopBackup(DiskTask *task, const std::string &why)
{
    std::lock_guard<std::mutex> guard(task->backupLock);
    if (!task->backupStopped.load())
        task->backupError = why;
    task->backupStopped = 1;
}

std::string backupProblem(DiskTask *task)
{
    std::lock_guard<std::mutex> guard(task->backupLock);
    return task->backupStopped.load() ? task->backupError : std::string();
}
