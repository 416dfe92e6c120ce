// The small layer standing in for the Win32 interfaces the engine needs.
// One backend is compiled per target: win32/ on Windows, posix/ elsewhere.
// Text is UTF-8 everywhere above this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/peversion.h"

namespace platform {

// ---------------------------------------------------------------------------
// Files opened for reading (CreateFile with share-read).

enum class MapStatus {
    Ok,
    NotOpenable,  // missing, locked, no access, or not a regular file
    NotMappable,  // empty file, or the mapping could not be made
    NotViewable,  // the view could not be mapped
};

// Why a file could not be opened (NotOpenable), in terms a script can test.
enum class OpenFailure {
    None,
    NoSuchFile,        // nothing at that path
    PermissionDenied,  // the file or a folder on the way refuses access
    NotAFolder,        // a component of the path (or a trailing '/') names something that is no folder
    TooManyLinks,      // symbolic links loop, or nest too deep
    NotAFile,          // a folder, a pipe, a device: nothing to read as an image
    NameTooLong,
    Other,
};
// "no-such-file", "permission-denied", "not-a-folder", "too-many-links",
// "not-a-file", "name-too-long", "other"; "" for None.
const char* openFailureKey(OpenFailure failure);
// The same in words: "no such file", "permission denied", ...
const char* openFailureText(OpenFailure failure);

// Bounded reads of a file at given offsets (pread / ReadFile), through a few
// cached blocks, without mapping it: a file that another process shortens
// meanwhile reads as a shorter file, never as a signal.
class FileReader : public ByteSource {
public:
    FileReader() = default;
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens `path` read-only (share-read, random access): NotOpenable when
    // missing, locked, refused or not a plain file, NotMappable when empty.
    MapStatus open(const std::string& path);
    void close();

    std::uint64_t size() const override { return size_; }
    // Why the last open failed with NotOpenable.
    OpenFailure failure() const { return failure_; }
    // False past the end of the file, as it is now.
    bool read(std::uint64_t offset, void* out, std::size_t count) const override;
    // Some read failed for another reason than the end of the file.
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t kBlock = 4096, kSlots = 8;
    struct Block {
        std::uint64_t index = UINT64_MAX;
        std::size_t length = 0;
        std::uint8_t data[kBlock];
    };
    std::intptr_t file_ = -1;
    std::uint64_t size_ = 0;
    OpenFailure failure_ = OpenFailure::None;
    mutable bool failed_ = false;
    mutable Block blocks_[kSlots];
};

// ---------------------------------------------------------------------------
// Machines (IMAGE_FILE_HEADER.Machine).

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;

// "32 bits" (x86), "64 bits" (x64), "ARM64", else the code as 0x01c4.
std::string machineName(std::uint16_t machine);
// The machine of a PE image, read from its headers; 0 when the source holds
// no PE image.
std::uint16_t imageMachine(const ByteSource& image);
std::uint16_t imageMachine(const std::string& path);

// ---------------------------------------------------------------------------
// Current directory (GetCurrentDirectory): what relative paths are taken
// against; nothing of the engine changes it.

std::string currentDirectory();

// ---------------------------------------------------------------------------
// Paths. The file-name part and directory part of a path, as the grid shows
// them: Windows splits at the last backslash or colon and keeps the backslash
// of a drive root; Linux splits at the last slash and keeps "/".

std::string fileNamePart(const std::string& path);
std::string directoryPart(const std::string& path);
// The same for a listed path that may end in a separator ("bin/app.exe/",
// given for a folder): the name keeps it, the folder is the one above.
std::string listedNamePart(const std::string& path);
std::string listedFolderPart(const std::string& path);
// Directory + separator (unless the directory already ends with one) + name;
// the name alone when the directory is empty.
std::string joinPath(const std::string& dir, const std::string& name);
// The path made absolute against the current directory, "." and ".." removed.
std::string absolutePath(const std::string& path);
// Full path of the running executable.
std::string executablePath();

// True when `path` names a folder (links followed).
bool folderExists(const std::string& path);
// The same for many paths at once: a folder holding several of them is
// listed once rather than each asked for on its own.
std::vector<bool> foldersAmong(const std::vector<std::string>& paths);
// The subfolder of `folder` named `name` ignoring case ("System32",
// "system32"); empty when there is none.
std::string subfolderIgnoringCase(const std::string& folder, const std::string& name);
// The names of the PE files a folder holds, as a folder dropped on the list
// gives them: the files (links followed, hidden ones too) whose extension,
// ignoring case, is .exe, .dll, .ocx, .sys, .cpl, .drv, .node or .pyd,
// sorted ignoring case, then exactly; `readable` false when it cannot be
// listed.
std::vector<std::string> peFilesIn(const std::string& folder, bool& readable);
// The PE files of `folder` and of its subfolders, as full paths: the
// folder's own first (in peFilesIn's order), then each subfolder's in turn,
// in the same order, depth first. Links are followed, and a folder reached
// again (a cycle of links) is not listed again. The folders that cannot be
// listed are added to `unreadable`.
std::vector<std::string> peFilesUnder(const std::string& folder, std::vector<std::string>& unreadable);
// What a listed folder stands for, the same for the command line and the
// window: its PE files as full paths (with its subfolders' when asked, else
// its own), the folders that could not be listed. No file at all is for the
// caller to report: a folder that yields nothing is never a silent success.
struct FolderFiles {
    std::vector<std::string> files;
    std::vector<std::string> unreadable;
};
FolderFiles peFilesOf(const std::string& folder, bool withSubfolders);
// The extensions peFilesIn takes, for messages: ".exe, .dll, …, .pyd".
const char* peExtensionList();
// Hands each name in folder `dir` (neither "." nor "..") to `visit`, in the
// order the system gives them, until it returns false; false when the
// folder cannot be listed. One pass over the folder and nothing per entry
// beyond its name: a folder of tens of thousands of files lists quickly.
bool listFolder(const std::string& dir, const std::function<bool(std::string_view name)>& visit);

// Lower-cases a path as the platform's file list keeps it: Windows lowers it
// (file names ignore case there), Linux keeps it as is (a lowered name would
// name another file).
std::string listPath(const std::string& path);

// A C stream on the file at the UTF-8 `path` (fopen's modes); null when it
// cannot be opened. Windows opens the wide name.
std::FILE* openStream(const std::string& path, const char* mode);

// The program's arguments as UTF-8 (Windows reads the wide command line;
// argv there is in the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);
// Lets a console show the UTF-8 the program writes (Windows only).
void useUtf8Console();

// ---------------------------------------------------------------------------
// Text.

// The system's locale-aware lower-casing (accented capitals included).
// Bytes that are not valid UTF-8 are kept as they are.
std::string toLower(std::string_view text);

// ---------------------------------------------------------------------------
// Version information (GetFileVersionInfoSize / GetFileVersionInfo /
// VerQueryValue). The block is opaque to callers.

std::uint32_t fileVersionInfoSize(const std::string& path, std::uint32_t& handle);
bool fileVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size, void* block);
// Binary values: "\" (VS_FIXEDFILEINFO) and "\VarFileInfo\Translation".
bool verQueryValue(const void* block, const std::string& subBlock, const void*& value, std::uint32_t& length);
// String values under "\StringFileInfo\...", returned as UTF-8 up to their terminating zero.
bool verQueryString(const void* block, const std::string& subBlock, std::string& value);

// The version block of the file at `path`, read from `image` (that file,
// already open and parsed) as fileVersionInfo would give it: an empty block
// when there is none. False when this platform's version block can only
// come from fileVersionInfo (Windows).
class PeImage;
bool versionBlockOf(const std::string& path, const PeImage& image, std::vector<std::uint8_t>& block);

// Linux only: an ELF program has no version resource, so the program hands
// its own VS_VERSIONINFO block here; the version functions above then serve
// it for executablePath(). (Windows programs carry a real resource.)
void setOwnVersionBlock(std::vector<std::uint8_t> block);

}  // namespace platform
