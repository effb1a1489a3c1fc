/* Record layouts of the public headers are pinned at compile time, from C and from C++ alike. */
#pragma once

#ifdef __cplusplus
#define VIVED_STATIC_ASSERT static_assert
#else
#define VIVED_STATIC_ASSERT _Static_assert
#endif
