#pragma once

#include <cstddef>
#include <cstdint>

// One input for the binary readers of the offload: the task-file loader, the archive end record
// and central directory readers, the JPEG scan finder. Shared by the libFuzzer target and the
// replay test.
int taskFileFuzzOne(const uint8_t *data, size_t size);
