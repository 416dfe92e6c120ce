// The JSON files of .NET programs (runtime configs, deps files) read as the
// host reads them: UTF-8 with or without a BOM, comments allowed, whatever
// follows the top-level object ignored. Bounded before nlohmann/json sees
// them: files over kMaxJsonBytes and nesting deeper than kMaxJsonDepth are
// refused. Private to the readers of inspect/dotnet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/bytes.h"

namespace dotnet::detail {

// Real deps files of large applications are a few hundred kilobytes; a
// parsed file takes up to some thirty times its size (4 MB of "[]," about
// 125 MB).
constexpr std::uint64_t kMaxJsonBytes = 4u << 20;
constexpr unsigned kMaxJsonDepth = 64;

enum class JsonRead { Read, Missing, Damaged };

// Parses `text` into `out` (an object); on failure `reason` says why.
JsonRead parseJson(std::string_view text, nlohmann::ordered_json& out, std::string& reason);
// The whole of `bytes`, within kMaxJsonBytes, then parsed.
JsonRead parseJson(const platform::ByteSource& bytes, nlohmann::ordered_json& out, std::string& reason);
// The file at `path`: Missing when it cannot be opened.
JsonRead readJsonFile(const std::string& path, nlohmann::ordered_json& out, std::string& reason);

// Members read with their types checked: false (and `reason` set) when the
// member is there with another type; `out` is left alone when it is absent.
bool stringMember(const nlohmann::ordered_json& object, const char* key, std::string& out, std::string& reason,
                  bool& present);
const nlohmann::ordered_json* member(const nlohmann::ordered_json& object, const char* key);

}  // namespace dotnet::detail
