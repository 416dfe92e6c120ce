// Where the names of one run are looked up: a file or folder of a folder,
// its name matched ignoring case by the file system's rule (foldName), an
// exact spelling first. One index serves the DLL search, the side-by-side
// store and .NET probing; folders are listed at most once, on the first
// miss of an exact spelling, and a listing then answers for the names it
// lacks. Nothing is kept between runs.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// What one folder's listing may hold; a larger folder is listed in part
// and answers only for what it holds.
constexpr std::size_t kMaxListing = 200000;

class FolderIndex {
public:
    FolderIndex();
    ~FolderIndex();
    FolderIndex(const FolderIndex&) = delete;
    FolderIndex& operator=(const FolderIndex&) = delete;

    enum class Kind {
        File,    // anything but a folder once links are followed (a dangling link is none)
        Folder,
    };
    // The entry `name` of `dir` of that kind: the exact spelling first, then
    // the first other spelling (in byte order) with the same folded name.
    bool find(const std::string& dir, const std::string& name, std::string& out, Kind kind = Kind::File);

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
