#pragma once

#include <cstddef>
#include <cstdint>

// One input for the task-file loader and the archive end-record reader, shared by the
// libFuzzer target and the replay test.
int taskFileFuzzOne(const uint8_t *data, size_t size);
