// What each backend gives the shared file reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform::detail {

// Opens a regular file read-only (share-read, random access): its handle,
// or -1 with `status` NotOpenable (missing, no access, not a plain file) or
// NotMappable (empty).
std::intptr_t openFile(const std::string& path, MapStatus& status, std::uint64_t& size, OpenFailure& failure);
void closeFile(std::intptr_t file);

// Reads up to `count` bytes of the open file at `offset`: the number read
// (0 at the end of the file), or -1 on an error.
long long readAt(std::intptr_t file, std::uint64_t offset, void* out, std::size_t count);

}  // namespace platform::detail
