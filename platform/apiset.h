// The API set schema: the table through which the Windows loader maps the
// names "api-ms-win-*" and "ext-ms-win-*" to the DLLs that host them, before
// any file search. Read from the ".apiset" section of apisetschema.dll (or the
// same bytes in memory), schema versions 2 (Windows 7), 4 (8.1) and 6 (10 and
// later). Every offset is checked against the section; a damaged schema reads
// as empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

class ByteSource;

// A name of the API set form: "api-" or "ext-" (ignoring case) and more. The
// loader maps such names before any file search.
bool isApiSetName(std::string_view name);

class ApiSetSchema {
public:
    // Reads the schema held in `size` bytes (a ".apiset" section). False, and
    // the schema left empty, for an unknown version or a damaged table.
    bool read(const std::uint8_t* data, std::size_t size);
    // Reads the ".apiset" section of a PE image (apisetschema.dll).
    bool readImage(const ByteSource& image);

    std::uint32_t version() const { return version_; }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }

    enum class Lookup {
        NotApiSet,  // not an "api-"/"ext-" name the schema knows: a file name
        NoHost,     // known, but mapped to nothing: searched as a file name
        Host,       // `host` is the DLL to search instead
    };
    // `name` as imported ("api-ms-win-crt-heap-l1-1-0.dll"); `importer` the
    // file-name part of the importing image, for the schema's exceptions.
    // Names compare up to their last hyphen, ignoring case, as the loader does.
    Lookup resolve(std::string_view name, std::string_view importer, std::string& host) const;

private:
    struct Entry {
        std::string defaultHost;
        std::vector<std::pair<std::string, std::string>> exceptions;  // importer (lower case), host
    };
    bool readEntries(const std::uint8_t* data, std::size_t size);
    std::string key(std::string_view name) const;

    std::uint32_t version_ = 0;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace platform
