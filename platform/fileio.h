// What each backend gives the shared file reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::detail {

// Reads up to `count` bytes of the open file at `offset`: the number read
// (0 at the end of the file), or -1 on an error.
long long readAt(std::intptr_t file, std::uint64_t offset, void* out, std::size_t count);

}  // namespace platform::detail
