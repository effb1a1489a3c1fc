#include "faultpoints.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "disktask.h"

namespace {

struct Fault
{
    int camera = -1;
    int index = -1;
    std::string phase;
    std::string action;
    std::string path;
    bool spent = false;
};

std::mutex faultLock;
int firedCount = 0;

std::vector<Fault> &faults()
{
    static std::vector<Fault> parsed = [] {
        std::vector<Fault> list;
        const char *setting = std::getenv("V7_OFFLOAD_FAULT");
        if (!setting)
            return list;
        std::string rest = setting;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string item = rest.substr(0, comma);
            rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
            std::vector<std::string> parts;
            size_t start = 0;
            for (size_t colon;
                 (colon = item.find(':', start)) != std::string::npos && parts.size() < 4;
                 start = colon + 1)
                parts.push_back(item.substr(start, colon - start));
            parts.push_back(item.substr(start));
            if (parts.size() < 4)
                continue;
            Fault fault;
            fault.camera = std::atoi(parts[0].c_str());
            fault.index = std::atoi(parts[1].c_str());
            fault.phase = parts[2];
            fault.action = parts[3];
            if (parts.size() > 4)
                fault.path = parts[4];
            list.push_back(fault);
        }
        return list;
    }();
    return parsed;
}

// The last byte: in a copy it is the photo's, in an archive the end record just written.
void flipByte(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    const off_t last = ::lseek(fd, 0, SEEK_END) - 1;
    unsigned char byte = 0;
    if (last >= 0 && ::pread(fd, &byte, 1, last) == 1) {
        byte ^= 0xFF;
        if (::pwrite(fd, &byte, 1, last) == 1)
            ::fdatasync(fd);
    }
    ::close(fd);
}

} // namespace

namespace FaultPoints {

int hit(DiskTask *task, int index, const char *phase, const char *path)
{
    std::vector<Fault> &list = faults();
    if (list.empty())
        return 0;
    std::string action;
    std::string waitPath;
    {
        std::lock_guard<std::mutex> guard(faultLock);
        for (Fault &fault : list) {
            if (fault.spent || fault.camera != task->record.camera || fault.index != index ||
                fault.phase != phase)
                continue;
            action = fault.action;
            waitPath = fault.path;
            if (action != "corrupt-always" && action != "eio-always")
                fault.spent = true;
            ++firedCount;
            break;
        }
    }
    if (action.empty())
        return 0;
    if (action == "eio" || action == "eio-always")
        return EIO;
    if (action == "kill") {
        ::kill(::getpid(), SIGKILL);
    } else if (action == "corrupt" || action == "corrupt-always") {
        flipByte(path);
    } else if (action == "wait") {
        // "<path>.held" tells a test the camera stands here: copies written before it may still
        // be in hand, uncounted, so the count cannot tell it.
        if (!waitPath.empty()) {
            const int marker = ::open((waitPath + ".held").c_str(),
                                      O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (marker >= 0)
                ::close(marker);
        }
        while (task->running.load() && (waitPath.empty() || ::access(waitPath.c_str(), F_OK) != 0))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

void finishing(const char *step)
{
    std::vector<Fault> &list = faults();
    std::lock_guard<std::mutex> guard(faultLock);
    for (Fault &fault : list) {
        if (!fault.spent && fault.camera == -1 && fault.phase == step && fault.action == "kill")
            ::kill(::getpid(), SIGKILL);
    }
}

int fired()
{
    std::lock_guard<std::mutex> guard(faultLock);
    return firedCount;
}

} // namespace FaultPoints
