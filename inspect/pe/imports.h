// The import table and the delay-load table of a PE image: the DLL names of
// their descriptors and, when asked, the functions each imports. Read over
// one parse of the image; every read is bounded by the file, and hostile
// sizes by what the file could hold (a name is cut at the longest a
// toolchain writes; thunks and names together may not exceed the file).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/peimage.h"

namespace pe {

// The longest DLL name the search can ever find (MAX_PATH less its zero).
constexpr std::size_t kMaxDllName = 259;

// One function imported through a descriptor: by name (its bytes in the
// table's `functionNames`) or by ordinal.
struct ImportedFunction {
    std::uint32_t at = 0, length = 0;  // the name within ImportTable::functionNames
    std::uint16_t ordinal = 0;
    bool byOrdinal = false;
    bool cut = false;  // a name longer than any toolchain writes: its first bytes only
};

// One DLL name of a descriptor, as the report shows it.
struct DllName {
    std::string text;
    bool searchable = true;  // false for a name too long for any file: cut, never searched
    std::vector<ImportedFunction> functions;  // in thunk order, when read
};

struct ImportTable {
    std::vector<DllName> dlls;  // descriptor order; those read before a stop
    std::string functionNames;  // the names of the imported functions, one after the other

    std::string_view functionName(const ImportedFunction& f) const {
        return std::string_view(functionNames).substr(f.at, f.length);
    }
};

// What one image may make its readers read and keep at most: thunks and
// the bytes of names could never add up to more than the file holds, save
// for tables that share entries.
class ReadBudget {
public:
    explicit ReadBudget(std::uint64_t fileSize);
    bool bytes(std::uint64_t n);
    bool thunk();

private:
    std::uint64_t bytes_, thunks_;
};

// How reading a table ended.
enum class TableStatus {
    Read,     // walked to its end (an absent table reads as empty)
    Absent,   // the image has no such table (the import table: size 0, or an RVA in no section)
    Damaged,  // a read fell outside the file or past the budget; what came before is kept
};

// The import descriptors, as the loader walks them: the directory entry
// read whatever NumberOfRvaAndSizes says. Damaged also for an image whose
// section table does not fit. `functions`: the thunks too; a damaged
// function table sets `functionsDamaged` and ends the reading of
// functions, the DLL names going on without them.
// `directory`: another view's entry (an ARM64X image's EC view) instead of
// the image's own.
TableStatus readImports(const platform::PeImage& image, bool functions, ReadBudget& budget, ImportTable& out,
                        bool& functionsDamaged, const platform::PeImage::Directory* directory = nullptr);

// The delay-load descriptors (data directory 13), old ones holding
// addresses (PE32 before Visual C++ 6) included. Any damage, in the names
// or the functions, is Damaged.
TableStatus readDelayImports(const platform::PeImage& image, bool functions, ReadBudget& budget, ImportTable& out,
                             const platform::PeImage::Directory* directory = nullptr);

// A name read from an image (code page 1252 bytes) as the report shows it,
// control characters as '?'.
std::string imageText(std::string_view bytes);

// The zero-terminated bytes at `at`, at most `max` of them (`cut` when no
// zero came by then); false when they run off the file or the budget.
bool readString(const platform::ByteSource& file, std::uint64_t at, std::size_t max, ReadBudget& budget,
                std::string& out, bool& cut);

}  // namespace pe
