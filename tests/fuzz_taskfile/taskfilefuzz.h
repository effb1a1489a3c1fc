#pragma once

#include <cstddef>
#include <cstdint>

// One input for the task-file loader, the archive end-record reader and the JPEG scan finder,
// shared by the libFuzzer target and the replay test.
int taskFileFuzzOne(const uint8_t *data, size_t size);
