// --copy-to: the ship set copied into one folder, whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "inspect/ship.h"

namespace shipping {

struct BundleResult {
    bool ok = false;
    // "<source> -> <target>" for each file written, in ship-set order.
    std::vector<std::string> copied;
    std::size_t unchanged = 0;  // files already there with the same bytes
    // Messages for standard error, without the program's name: files
    // replaced, and why nothing was copied.
    std::vector<std::string> messages;
};

// Copies the DLLs of `set` into `folder` (created when missing). A file
// there with the same name ignoring case and the same bytes is left alone;
// one with other bytes is replaced, under its own spelling, and named.
// Nothing is written when the set is refused, when two different files
// would take one name, when a listed file would be overwritten, or when
// any copy cannot be written: every copy is staged beside its name first
// and only then renamed into place.
BundleResult copyBundle(const ShipSet& set, const std::string& folder, const std::vector<std::string>& listed);

}  // namespace shipping
