// What a DLL exports: names and ordinals, each either code or a forwarder
// ("OTHER.Function", "OTHER.#12"). Read over one parse of the image, bounded
// like the import tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/peimage.h"

namespace pe {

class ExportTable {
public:
    enum class State {
        Unreadable,  // not a PE image, or a file that cannot be read
        Damaged,     // a read of the table fell outside the file or past its budget
        Read,        // read whole (an image without an export table exports nothing)
    };
    State state = State::Unreadable;

    struct Entry {
        bool exported = false;
        const std::string* forward = nullptr;  // the forwarder, when the export is one
    };
    Entry byName(std::string_view name) const;
    Entry byOrdinal(std::uint32_t ordinal) const;

    std::size_t nameCount() const { return names_.size(); }

private:
    friend ExportTable readExports(const platform::PeImage& image);
    friend class ExportReader;
    Entry entry(std::uint32_t index) const;

    std::uint32_t base_ = 0;
    std::vector<std::uint32_t> addresses_;  // AddressOfFunctions, up to the 65,536 a name ordinal reaches
    struct Name {
        std::uint32_t at, length, index;
    };
    std::string nameBytes_;
    std::vector<Name> names_;  // sorted by name
    std::unordered_map<std::uint32_t, std::string> forwards_;  // by function index
};

ExportTable readExports(const platform::PeImage& image);
// The export table of the file at `path` (a file that fails to read, rather
// than one that ends, is Unreadable).
ExportTable readExports(const std::string& path);

}  // namespace pe
