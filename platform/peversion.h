// Our own reader of version resources, for the platforms without
// GetFileVersionInfo. Pure functions over bytes; every read is bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace platform {

// Finds the RT_VERSION resource (id 1) of a PE image held in `image`.
// Of several languages, takes the one the Windows loader picks for a neutral
// request: neutral, then `userLanguage` (exact, then same primary language),
// then US English, then the first. On success `offset`/`length` locate the
// resource bytes inside `image` (length already cut to the image's end).
bool findVersionResource(const std::uint8_t* image, std::size_t size, std::uint16_t userLanguage,
                         std::size_t& offset, std::size_t& length);

bool findVersionResource(const ByteSource& image, std::uint16_t userLanguage, std::uint64_t& offset,
                         std::uint64_t& length);
class PeImage;
bool findVersionResource(const PeImage& image, std::uint16_t userLanguage, std::uint64_t& offset,
                         std::uint64_t& length);

// VerQueryValue over a version block (VS_VERSIONINFO tree). The block's first
// WORD bounds the walk; callers that copy a resource into a smaller buffer cut
// it first (see clampVersionBlock). Keys are compared ignoring ASCII case.
// `isText` tells whether the value is a UTF-16 string (wType 1).
bool queryVersionBlock(const std::uint8_t* block, std::string_view subBlock, const std::uint8_t*& value,
                       std::uint32_t& valueLength, bool& isText);

// A string value of the block, as UTF-8, read up to its terminating zero and
// never past its own entry.
bool queryVersionString(const std::uint8_t* block, std::string_view subBlock, std::string& out);

// The version resource's bytes as the version functions give them (at most
// the 64 KB a block's length can say, its length cut to what is there), in
// the language the loader picks; false when there is none.
bool readVersionBlock(const PeImage& image, std::uint16_t userLanguage, std::vector<std::uint8_t>& out);

// Cuts the block's own length to the bytes actually available.
void clampVersionBlock(std::uint8_t* block, std::size_t available);

// Windows language identifier of the user's locale (LC_ALL, LC_MESSAGES,
// LANG), 0x0409 when unknown.
std::uint16_t localeLanguageId();

}  // namespace platform
