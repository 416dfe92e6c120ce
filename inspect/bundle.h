// --copy-to: the ship set copied into one folder, whole or not at all.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "inspect/ship.h"

namespace shipping {

// What a message of the copy says, as data, for a caller that words it
// in its own language.
struct BundleNote {
    enum class Kind {
        Incomplete,     // the set is refused; `path` the folder
        NotAFolder,     // `path` is not a folder
        TwoFiles,       // `path` would be both `source` and `other`, which differ
        CannotCompare,  // `why`
        ListedFile,     // `path` is a listed file that `source` would replace
        CannotCreate,   // the folder `path` cannot be created: `why`
        CannotWrite,    // `why`
        CannotPlace,    // a copy cannot be renamed into place: `why`
        Replaced,       // `path` replaced by `source`, whose bytes differed
    };
    Kind kind;
    std::string path, source, other, why;
};

struct BundleResult {
    bool ok = false;
    // "<source> -> <target>" for each file written, in ship-set order.
    std::vector<std::string> copied;
    std::size_t unchanged = 0;  // files already there with the same bytes
    // Messages for standard error, without the program's name: files
    // replaced, and why nothing was copied.
    std::vector<std::string> messages;
    // The same, one note per message but the closing "nothing copied".
    std::vector<BundleNote> notes;
};

// Told after each file staged: how many of how many are written.
using BundleProgress = std::function<void(std::size_t done, std::size_t total)>;

// Copies the DLLs of `set` into `folder` (created when missing). A file
// there with the same name ignoring case and the same bytes is left alone;
// one with other bytes is replaced, under its own spelling, and named.
// Nothing is written when the set is refused, when two different files
// would take one name, when a listed file would be overwritten, or when
// any copy cannot be written: every copy is staged beside its name first
// and only then renamed into place.
// `progress`, when given, is called from the calling thread.
BundleResult copyBundle(const ShipSet& set, const std::string& folder, const std::vector<std::string>& listed,
                        const BundleProgress& progress = {});

}  // namespace shipping
