#include "taskrecord.h"

#include <cstring>

#include "byteorder.h"

using namespace TaskLayout;

void taskRecordClear(TaskRecord *record)
{
    std::memset(record, 0, sizeof *record);
}

int taskRecordSetText(char *field, const char *text)
{
    const size_t length = std::strlen(text);
    if (length >= TextSize)
        return -1;
    std::memset(field, 0, TextSize);
    std::memcpy(field, text, length);
    return 0;
}

static void putText(unsigned char *out, const char *text)
{
    std::memcpy(out, text, TextSize);
    out[TextSize - 1] = 0;
}

static void getText(const unsigned char *in, char *text)
{
    std::memcpy(text, in, TextSize);
    text[TextSize - 1] = 0;
}

void taskRecordEncode(const TaskRecord *r, unsigned char *out)
{
    std::memset(out, 0, RecordSize);
    putText(out + Password, r->password);
    ByteOrder::putLe32(out + PasswordFlag, uint32_t(r->passwordFlag));
    putText(out + Destination, r->destination);
    putText(out + Source, r->source);
    putText(out + ArchivePath, r->archivePath);
    putText(out + ArchiveName, r->archiveName);
    putText(out + ArchivePrefix, r->archivePrefix);
    putText(out + TaskFilePath, r->taskFilePath);
    ByteOrder::putLe32(out + SavedCount, uint32_t(r->savedCount));
    ByteOrder::putLeDouble(out + VolumeSize, r->volumeSize);
    ByteOrder::putLe32(out + VolumeMode, uint32_t(r->volumeMode));
    ByteOrder::putLe64(out + BytesDone, r->bytesDone);
    ByteOrder::putLe32(out + Camera, uint32_t(r->camera));
    ByteOrder::putLe32(out + Running, uint32_t(r->running));
    ByteOrder::putLe32(out + Stopped, uint32_t(r->stopped));
    ByteOrder::putLe32(out + FileCount, uint32_t(r->fileCount));
    ByteOrder::putLe32(out + FilesDone, uint32_t(r->filesDone));
}

void taskRecordDecode(const unsigned char *in, TaskRecord *r)
{
    taskRecordClear(r);
    getText(in + Password, r->password);
    r->passwordFlag = int32_t(ByteOrder::getLe32(in + PasswordFlag));
    getText(in + Destination, r->destination);
    getText(in + Source, r->source);
    getText(in + ArchivePath, r->archivePath);
    getText(in + ArchiveName, r->archiveName);
    getText(in + ArchivePrefix, r->archivePrefix);
    getText(in + TaskFilePath, r->taskFilePath);
    r->savedCount = int32_t(ByteOrder::getLe32(in + SavedCount));
    r->volumeSize = ByteOrder::getLeDouble(in + VolumeSize);
    r->volumeMode = int32_t(ByteOrder::getLe32(in + VolumeMode));
    r->bytesDone = ByteOrder::getLe64(in + BytesDone);
    r->camera = int32_t(ByteOrder::getLe32(in + Camera));
    r->running = int32_t(ByteOrder::getLe32(in + Running));
    r->stopped = int32_t(ByteOrder::getLe32(in + Stopped));
    r->fileCount = int32_t(ByteOrder::getLe32(in + FileCount));
    r->filesDone = int32_t(ByteOrder::getLe32(in + FilesDone));
}
