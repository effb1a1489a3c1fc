#pragma once

#include <cstddef>
#include <cstdint>

// Byte layout of the engine task record, which is also the header of a camera's task file.
namespace TaskLayout {
constexpr size_t TextSize = 256;
constexpr size_t Password = 0;
constexpr size_t PasswordFlag = 256;
constexpr size_t Destination = 260;
constexpr size_t Source = 516;
constexpr size_t ArchivePath = 772;
constexpr size_t ArchiveName = 1028;
constexpr size_t ArchivePrefix = 1284;
constexpr size_t TaskFilePath = 1540;
constexpr size_t SavedCount = 1796;
constexpr size_t VolumeSize = 1800;
constexpr size_t VolumeMode = 1808;
constexpr size_t Reserved1 = 1812;
constexpr size_t BytesDone = 1816;
constexpr size_t Camera = 1824;
constexpr size_t Running = 1828;
constexpr size_t Stopped = 1832;
constexpr size_t FileCount = 1836;
constexpr size_t FilesDone = 1840;
// Runtime handles and operations: 4-byte placeholders on disk, always written as 0.
constexpr size_t TaskFileHandle = 1844;
constexpr size_t AddEntryOp = 1848;
constexpr size_t FirstFileOp = 1852;
constexpr size_t NextFileOp = 1856;
constexpr size_t Reserved2 = 1860;
constexpr size_t CloseArchiveOp = 1864;
constexpr size_t ErrorOp = 1868;
constexpr size_t FileList = 1872;
constexpr size_t DataBuffer = 1876;
constexpr size_t Reserved3 = 1880;
constexpr size_t SearchHandle = 1884;
constexpr size_t RecordSize = 1888;
constexpr size_t EntrySize = 260;

static_assert(PasswordFlag == Password + TextSize, "password is 256 bytes");
static_assert(Destination == PasswordFlag + 4, "password flag is 4 bytes");
static_assert(Source == Destination + TextSize, "destination is 256 bytes");
static_assert(ArchivePath == Source + TextSize, "source is 256 bytes");
static_assert(ArchiveName == ArchivePath + TextSize, "archive path is 256 bytes");
static_assert(ArchivePrefix == ArchiveName + TextSize, "archive name is 256 bytes");
static_assert(TaskFilePath == ArchivePrefix + TextSize, "archive prefix is 256 bytes");
static_assert(SavedCount == TaskFilePath + TextSize, "task file path is 256 bytes");
static_assert(VolumeSize == SavedCount + 4, "saved count is 4 bytes");
static_assert(VolumeMode == VolumeSize + 8, "volume size is an 8-byte double");
static_assert(Reserved1 == VolumeMode + 4, "volume mode is 4 bytes");
static_assert(BytesDone == Reserved1 + 4, "bytes done is 8-aligned");
static_assert(Camera == BytesDone + 8, "bytes done is 8 bytes");
static_assert(Running == Camera + 4 && Stopped == Running + 4, "32-bit words");
static_assert(FileCount == Stopped + 4 && FilesDone == FileCount + 4, "32-bit words");
static_assert(TaskFileHandle == FilesDone + 4, "files done is 4 bytes");
static_assert(AddEntryOp == TaskFileHandle + 4 && FirstFileOp == AddEntryOp + 4, "4-byte slots");
static_assert(NextFileOp == FirstFileOp + 4 && Reserved2 == NextFileOp + 4, "4-byte slots");
static_assert(CloseArchiveOp == Reserved2 + 4 && ErrorOp == CloseArchiveOp + 4, "4-byte slots");
static_assert(FileList == ErrorOp + 4 && DataBuffer == FileList + 4, "4-byte slots");
static_assert(Reserved3 == DataBuffer + 4 && SearchHandle == Reserved3 + 4, "4-byte slots");
static_assert(RecordSize == SearchHandle + 4 && RecordSize == 1888, "record is 1888 bytes");
} // namespace TaskLayout

// The values of the on-disk task record; texts are zero-terminated UTF-8.
struct TaskRecord
{
    char password[TaskLayout::TextSize];
    int32_t passwordFlag;
    char destination[TaskLayout::TextSize];
    char source[TaskLayout::TextSize];
    char archivePath[TaskLayout::TextSize];
    char archiveName[TaskLayout::TextSize];
    char archivePrefix[TaskLayout::TextSize];
    char taskFilePath[TaskLayout::TextSize];
    int32_t savedCount;
    double volumeSize; // megabytes
    int32_t volumeMode;
    uint64_t bytesDone;
    int32_t camera;
    int32_t running;
    int32_t stopped;
    int32_t fileCount;
    int32_t filesDone;
};

// Zero-fills a record, as a freshly created task has it.
void taskRecordClear(TaskRecord *record);
// Copies text into a 256-byte field; -1 (field untouched) when it does not fit with its zero.
int taskRecordSetText(char *field, const char *text);
void taskRecordEncode(const TaskRecord *record, unsigned char *out /* RecordSize bytes */);
// Texts that lack a terminating zero are cut at their last byte.
void taskRecordDecode(const unsigned char *in /* RecordSize bytes */, TaskRecord *record);
