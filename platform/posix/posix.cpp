// Linux implementations of the Win32 interfaces the engine needs.
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "platform/peversion.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

// ---------------------------------------------------------------------------
// Mapped file

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
    if (data_) munmap(const_cast<std::uint8_t*>(data_), size_);
    if (file_ >= 0) ::close(static_cast<int>(file_));
    data_ = nullptr;
    size_ = 0;
    file_ = -1;
}

MapStatus MappedFile::open(const std::string& path) {
    close();
    // O_NONBLOCK: opening a FIFO must never wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return MapStatus::NotOpenable;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return MapStatus::NotOpenable;
    }
    file_ = fd;
    if (st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) > SIZE_MAX) {
        close();
        return MapStatus::NotMappable;
    }
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        close();
        return MapStatus::NotViewable;
    }
    madvise(view, size, MADV_RANDOM);
    data_ = static_cast<const std::uint8_t*>(view);
    size_ = size;
    return MapStatus::Ok;
}

// ---------------------------------------------------------------------------
// Current directory and paths

namespace {
// The current directory as last set through this layer: the DLL search asks
// for it once per import, and only this layer changes it.
thread_local std::string t_knownDirectory;
}  // namespace

std::string currentDirectory() {
    if (!t_knownDirectory.empty()) return t_knownDirectory;
    char stackBuf[PATH_MAX];
    if (getcwd(stackBuf, sizeof stackBuf)) return stackBuf;
    std::string buf(2 * PATH_MAX, '\0');
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

bool setCurrentDirectory(const std::string& dir) {
    if (!dir.empty() && dir == t_knownDirectory) return true;
    t_knownDirectory.clear();
    if (dir.empty() || chdir(dir.c_str()) != 0) return false;
    // A relative or symlinked name is resolved once by the system.
    if (dir[0] == '/' && dir.find("/.") == std::string::npos) t_knownDirectory = dir;
    return true;
}

std::string fileNamePart(const std::string& path) {
    const std::size_t p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string directoryPart(const std::string& path) {
    const std::size_t p = path.rfind('/');
    if (p == std::string::npos) return std::string();
    return p == 0 ? std::string("/") : path.substr(0, p);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::filesystem::path p(path);
    if (!p.is_absolute()) p = std::filesystem::path(currentDirectory()) / p;
    std::string out = p.lexically_normal().string();
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string executablePath() {
    std::string buf(PATH_MAX, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

std::string listPath(const std::string& path) { return path; }

std::vector<std::string> commandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void useUtf8Console() {}

// ---------------------------------------------------------------------------
// Text

namespace {
locale_t utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}
}  // namespace

std::string toLower(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const locale_t loc = utf8Locale();
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
            ++i;
            continue;
        }
        char32_t cp;
        const std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        const char32_t lower = loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : simpleLower(cp);
        appendUtf8(out, lower);
        i += len;
    }
    return out;
}

// ---------------------------------------------------------------------------
// DLL search

namespace {

std::optional<std::vector<std::string>> g_folderOverride;
std::vector<std::string> g_userFolders;

struct Listing {
    std::unordered_map<std::string, std::vector<std::string>> byLowerName;  // sorted names per key
};

struct SearchCache {
    int depth = 0;
    std::vector<std::string> folders;
    std::unordered_map<std::string, Listing> listings;
};
SearchCache g_cache;

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> defaultFolders() {
    std::vector<std::string> candidates = {
        "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
        "/usr/lib/wine/x86_64-windows",
        "/usr/lib64/wine/x86_64-windows",
        "/opt/wine-stable/lib64/wine/x86_64-windows",
        "/usr/lib/i386-linux-gnu/wine/i386-windows",
        "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
        "/usr/lib/wine/i386-windows",
        "/opt/wine-stable/lib/wine/i386-windows",
        "/usr/x86_64-w64-mingw32/bin",
        "/usr/x86_64-w64-mingw32/lib",
    };
    auto addGccFolders = [&](const std::string& root) {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(root, ec)) found.push_back(e.path().string());
        std::sort(found.begin(), found.end(), std::greater<>());  // newest compiler first, posix before win32
        candidates.insert(candidates.end(), found.begin(), found.end());
    };
    addGccFolders("/usr/lib/gcc/x86_64-w64-mingw32");
    candidates.push_back("/usr/i686-w64-mingw32/bin");
    candidates.push_back("/usr/i686-w64-mingw32/lib");
    addGccFolders("/usr/lib/gcc/i686-w64-mingw32");
    std::vector<std::string> out;
    for (const std::string& c : candidates)
        if (isDirectory(c)) out.push_back(c);
    return out;
}

std::vector<std::string> computeFolders() {
    if (g_folderOverride) return *g_folderOverride;
    if (const char* env = std::getenv("TAVELIN_DLL_PATH")) {
        std::vector<std::string> out;
        for (const std::string& f : splitList(env, ':')) out.push_back(absolutePath(f));
        return out;
    }
    std::vector<std::string> out = g_userFolders;
    for (std::string& f : defaultFolders()) out.push_back(std::move(f));
    return out;
}

Listing readListing(const std::string& dir) {
    Listing listing;
    DIR* d = opendir(dir.c_str());
    if (!d) return listing;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        listing.byLowerName[toLower(name)].push_back(std::move(name));
    }
    closedir(d);
    for (auto& [key, names] : listing.byLowerName) std::sort(names.begin(), names.end());
    return listing;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Looks `name` up in one folder: the exact spelling first, then any spelling
// that matches ignoring case. `isCurrent` tells that `dir` is the current
// directory, where the bare name is the shorter path for the system to walk.
bool findInFolder(const std::string& dir, const std::string& name, bool isCurrent, std::string& out) {
    const std::string exact = joinPath(dir, name);
    const auto existsExact = [&] { return exists(isCurrent ? name : exact); };
    const Listing* listing = nullptr;
    Listing uncached;
    if (g_cache.depth > 0) {
        auto it = g_cache.listings.find(dir);
        if (it == g_cache.listings.end()) {
            // An exact-case hit wins anyway: only a miss needs the listing.
            if (existsExact()) {
                out = exact;
                return true;
            }
            it = g_cache.listings.emplace(dir, readListing(dir)).first;
        }
        listing = &it->second;
    } else {
        if (existsExact()) {
            out = exact;
            return true;
        }
        uncached = readListing(dir);
        listing = &uncached;
    }
    const auto hit = listing->byLowerName.find(toLower(name));
    if (hit == listing->byLowerName.end()) return false;
    const auto& names = hit->second;
    out = joinPath(dir, std::find(names.begin(), names.end(), name) != names.end() ? name : names.front());
    return true;
}

}  // namespace

char pathListSeparator() { return ':'; }

std::vector<std::string> dllSearchFolders() {
    return g_cache.depth > 0 ? g_cache.folders : computeFolders();
}

void setDllSearchFolders(const std::vector<std::string>& folders) {
    std::vector<std::string> absolute;
    for (const std::string& f : folders)
        if (!f.empty()) absolute.push_back(absolutePath(f));
    g_folderOverride = absolute;
}

void resetDllSearchFolders() { g_folderOverride.reset(); }

bool dllSearchFoldersOverridden() { return g_folderOverride || std::getenv("TAVELIN_DLL_PATH"); }

void setUserDllFolders(const std::vector<std::string>& folders) {
    g_userFolders.clear();
    for (const std::string& f : folders)
        if (!f.empty()) g_userFolders.push_back(absolutePath(f));
}

std::vector<std::string> userDllFolders() { return g_userFolders; }

std::vector<std::string> systemDllFolders() { return defaultFolders(); }

void beginSearchScope() {
    if (g_cache.depth++ == 0) {
        g_cache.listings.clear();
        g_cache.folders = computeFolders();
    }
}

void endSearchScope() {
    if (g_cache.depth > 0 && --g_cache.depth == 0) {
        g_cache.listings.clear();
        g_cache.folders.clear();
    }
}

bool searchDll(const std::string& name, std::string& fullPath) {
    // A Windows DLL name is a bare file name; anything with a separator or an
    // embedded zero names no file of the search folders.
    if (name.empty() || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos || name == "." ||
        name == "..")
        return false;
    const std::string cwd = currentDirectory();
    if (!cwd.empty() && findInFolder(cwd, name, true, fullPath)) return true;
    for (const std::string& dir : dllSearchFolders())
        if (findInFolder(dir, name, false, fullPath)) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Version information

namespace {

std::vector<std::uint8_t>& ownVersionBlock() {
    static std::vector<std::uint8_t> block;
    return block;
}

// The registered block, when `path` names the running program.
const std::vector<std::uint8_t>* ownBlockFor(const std::string& path) {
    const std::vector<std::uint8_t>& block = ownVersionBlock();
    if (block.size() < 6 || path.empty()) return nullptr;
    static const std::string self = executablePath();
    if (path == self) return &block;
    static const struct stat selfStat = [] {
        struct stat st {};
        stat(self.c_str(), &st);
        return st;
    }();
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_dev == selfStat.st_dev && st.st_ino == selfStat.st_ino ? &block
                                                                                                         : nullptr;
}

}  // namespace

void setOwnVersionBlock(std::vector<std::uint8_t> block) { ownVersionBlock() = std::move(block); }

namespace {

// The version query reads a few scattered blocks of the file with pread:
// cheaper than mapping and unmapping the whole image for each row.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat st;
        if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~FileSource() override {
        if (fd_ >= 0) ::close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::uint64_t size() const override { return size_; }

    bool read(std::uint64_t offset, void* out, std::size_t count) const override {
        if (!has(offset, count)) return false;
        auto* dst = static_cast<std::uint8_t*>(out);
        while (count > 0) {
            const std::uint64_t index = offset / kBlock;
            Block& b = blocks_[index % kSlots];
            if (b.index != index) {
                b.index = UINT64_MAX;
                const ssize_t n = pread(fd_, b.data, kBlock, static_cast<off_t>(index * kBlock));
                if (n <= 0) return false;
                b.index = index;
                b.length = static_cast<std::size_t>(n);
            }
            const std::size_t at = static_cast<std::size_t>(offset - index * kBlock);
            if (at >= b.length) return false;  // the file shrank under us
            const std::size_t take = std::min(count, b.length - at);
            std::memcpy(dst, b.data + at, take);
            dst += take;
            offset += take;
            count -= take;
        }
        return true;
    }

private:
    static constexpr std::size_t kBlock = 4096, kSlots = 4;
    struct Block {
        std::uint64_t index = UINT64_MAX;
        std::size_t length = 0;
        std::uint8_t data[kBlock];
    };
    int fd_ = -1;
    std::uint64_t size_ = 0;
    mutable Block blocks_[kSlots];
};

// The version resource of `path`, read whole into `out`.
bool readVersionResource(const std::string& path, std::vector<std::uint8_t>& out) {
    FileSource file(path);
    std::uint64_t offset = 0, length = 0;
    if (!file.ok() || !findVersionResource(file, localeLanguageId(), offset, length) || length < 6 ||
        length > UINT32_MAX)
        return false;
    out.resize(static_cast<std::size_t>(length));
    return file.read(offset, out.data(), out.size());
}

}  // namespace

namespace {
// The size query keeps the resource it located for the read that follows it
// with the handle it returned, so one query maps the file once.
struct PendingVersion {
    std::uint32_t handle = 0;
    std::string path;
    std::vector<std::uint8_t> bytes;
};
thread_local PendingVersion t_pending;
thread_local std::uint32_t t_lastHandle = 0;
}  // namespace

std::uint32_t fileVersionInfoSize(const std::string& path, std::uint32_t& handle) {
    handle = 0;
    t_pending = PendingVersion{};
    if (const auto* own = ownBlockFor(path)) {
        t_pending.bytes = *own;
    } else if (!readVersionResource(path, t_pending.bytes)) {
        t_pending.bytes.clear();
        return 0;
    }
    if (++t_lastHandle == 0) ++t_lastHandle;
    handle = t_lastHandle;
    t_pending.handle = handle;
    t_pending.path = path;
    return static_cast<std::uint32_t>(t_pending.bytes.size());
}

bool fileVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size, void* block) {
    if (!block || size < 6) return false;
    PendingVersion pending = std::move(t_pending);
    t_pending = PendingVersion{};
    if (handle == 0 || pending.handle != handle || pending.path != path) {
        pending.bytes.clear();
        if (const auto* own = ownBlockFor(path)) pending.bytes = *own;
        else if (!readVersionResource(path, pending.bytes)) return false;
    }
    const std::size_t n = std::min<std::size_t>(size, pending.bytes.size());
    if (n < 6) return false;
    std::memcpy(block, pending.bytes.data(), n);
    clampVersionBlock(static_cast<std::uint8_t*>(block), n);
    return true;
}

bool verQueryValue(const void* block, const std::string& subBlock, const void*& value, std::uint32_t& length) {
    const std::uint8_t* p = nullptr;
    bool text = false;
    if (!queryVersionBlock(static_cast<const std::uint8_t*>(block), subBlock, p, length, text)) return false;
    value = p;
    return true;
}

bool verQueryString(const void* block, const std::string& subBlock, std::string& value) {
    return queryVersionString(static_cast<const std::uint8_t*>(block), subBlock, value);
}

}  // namespace platform
