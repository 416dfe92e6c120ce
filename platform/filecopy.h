// Filling a folder with copies so that a kill at any moment leaves every
// file whole: each copy is written beside its final name under a temporary
// one, flushed, then renamed into place. One backend per target.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Something exists at `path` (a file, a folder, anything; links followed).
bool pathExists(const std::string& path);

// Creates `folder` and the parents it lacks; false, with the system's reason,
// when it cannot or when a file stands where a folder should.
bool createFolders(const std::string& folder, std::string& why);

// The entry of `folder` named `name` ignoring case (a file, or whatever
// else holds the name), the exact spelling first, as Windows would open it;
// empty when there is none.
std::string fileIgnoringCase(const std::string& folder, const std::string& name);

enum class Comparison { Same, Different, Failed };
// Whether the regular files at `a` and `b` hold the same bytes; Failed, with
// the reason, when either cannot be read or is not a regular file.
Comparison compareFiles(const std::string& a, const std::string& b, std::string& why);

namespace detail {
// The comparison of two open files, block by block: `read` fills a block of
// file 0 or 1 and returns its length (0 at the end, -1 on an error, which
// `reason` then words).
using BlockReader = std::function<long long(int file, char* out, std::size_t count)>;
Comparison compareContents(const BlockReader& read, const std::function<std::string()>& reason, const std::string& a,
                           const std::string& b, std::string& why);
// Creates the one folder `folder`, whose parent exists; true when it exists
// afterwards, else false with the reason.
bool makeFolder(const std::string& folder, std::string& why);
}  // namespace detail

// A copy of `source` written in the folder of `target` under a temporary
// name, its bytes flushed to the disk: the copy's path, or empty with the
// reason (nothing is left behind then).
std::string stageCopy(const std::string& source, const std::string& target, std::string& why);
// Renames the staged copy to `target`, replacing the file there in one step.
bool commitStaged(const std::string& staged, const std::string& target, std::string& why);
// Removes a staged copy that will not be used.
void discardStaged(const std::string& staged);
// Makes the renames into `folder` durable (a no-op where the rename already is).
void syncFolder(const std::string& folder);

// Whether `name` is one stageCopy gives: ".<file>.tavelin-XXXXXX" (six
// letters or digits) on Linux, "<file>.tavelin-<process>-<n>" on Windows.
bool isStagedName(const std::string& name);
// The staged copies that runs stopped before their end (killed) left in
// `folder`, removed: their paths, sorted. Only regular files of
// isStagedName's pattern, and none a running copy still writes.
std::vector<std::string> removeLeftoverStaged(const std::string& folder);

}  // namespace platform
