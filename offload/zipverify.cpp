#include "zipverify.h"

#include <vector>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>
#include <minizip/unzip.h>

namespace ZipVerify {

int lastEntryHash(const std::string &archive, const std::string &name, const char *password,
                  uint64_t *hash)
{
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip)
        return -1;
    int result = -1;
    unz_global_info64 global {};
    if (unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry > 0
        && unzGoToFirstFile(zip) == UNZ_OK) {
        bool positioned = true;
        for (ZPOS64_T i = 1; i < global.number_entry && positioned; ++i)
            positioned = unzGoToNextFile(zip) == UNZ_OK;
        char entryName[4096] = {};
        unz_file_info64 info {};
        if (positioned
            && unzGetCurrentFileInfo64(zip, &info, entryName, sizeof entryName, nullptr, 0,
                                       nullptr, 0) == UNZ_OK
            && name == entryName && unzOpenCurrentFilePassword(zip, password) == UNZ_OK) {
            XXH64_state_t *state = XXH64_createState();
            XXH64_reset(state, 0);
            std::vector<unsigned char> chunk(1 << 20);
            int got;
            while ((got = unzReadCurrentFile(zip, chunk.data(), unsigned(chunk.size()))) > 0)
                XXH64_update(state, chunk.data(), size_t(got));
            *hash = XXH64_digest(state);
            XXH64_freeState(state);
            // Closing checks the stored CRC against the data read.
            if (unzCloseCurrentFile(zip) == UNZ_OK && got == 0)
                result = 0;
        }
    }
    unzClose(zip);
    return result;
}

} // namespace ZipVerify
