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

#include "platform/fileio.h"
#include "platform/peimage.h"
#include "platform/peversion.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

// ---------------------------------------------------------------------------
// Files

namespace {
OpenFailure failureOf(int error) {
    switch (error) {
        case ENOENT: return OpenFailure::NoSuchFile;
        case EACCES:
        case EPERM: return OpenFailure::PermissionDenied;
        case ENOTDIR: return OpenFailure::NotAFolder;
        case ELOOP: return OpenFailure::TooManyLinks;
        case EISDIR:
        case ENXIO: return OpenFailure::NotAFile;
        case ENAMETOOLONG: return OpenFailure::NameTooLong;
    }
    return OpenFailure::Other;
}
}  // namespace

std::intptr_t detail::openFile(const std::string& path, MapStatus& status, std::uint64_t& size, OpenFailure& failure) {
    status = MapStatus::NotOpenable;
    failure = OpenFailure::None;
    // O_NONBLOCK: opening a FIFO must never wait for a writer.
    int fd = path.empty() ? (errno = ENOENT, -1) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failure = failureOf(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = OpenFailure::NotAFile;
        ::close(fd);
        return -1;
    }
    if (st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) > SIZE_MAX) {
        ::close(fd);
        status = MapStatus::NotMappable;
        return -1;
    }
    status = MapStatus::Ok;
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

void detail::closeFile(std::intptr_t file) { ::close(static_cast<int>(file)); }

// ---------------------------------------------------------------------------
// File reader

long long detail::readAt(std::intptr_t file, std::uint64_t offset, void* out, std::size_t count) {
    for (;;) {
        const ssize_t n = pread(static_cast<int>(file), out, count, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR) return n;
    }
}

// ---------------------------------------------------------------------------
// Current directory and paths

bool listFolder(const std::string& dir, const std::function<bool(std::string_view name)>& visit) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    while (const dirent* e = readdir(d)) {
        const std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        if (!visit(name)) break;
    }
    closedir(d);
    return true;
}

std::string currentDirectory() {
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
    // Already absolute and normal: nothing to resolve.
    if (path[0] == '/' && path.find("/.") == std::string::npos && path.find("//") == std::string::npos &&
        (path.size() == 1 || path.back() != '/'))
        return path;
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

std::FILE* openStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

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

// The user's language, as the environment gave it when the program started.
std::uint16_t userLanguage() {
    static const std::uint16_t language = localeLanguageId();
    return language;
}

// The version resource of `path`, read whole into `out`.
bool readVersionResource(const ByteSource& file, std::vector<std::uint8_t>& out) {
    return readVersionBlock(PeImage(file), userLanguage(), out);
}

bool readVersionResource(const std::string& path, std::vector<std::uint8_t>& out) {
    FileReader file;
    return file.open(path) == MapStatus::Ok && readVersionResource(file, out);
}

}  // namespace

bool versionBlockOf(const std::string& path, const PeImage& image, std::vector<std::uint8_t>& block) {
    block.clear();
    if (const auto* own = ownBlockFor(path)) {
        block = *own;
        return true;
    }
    if (!readVersionBlock(image, userLanguage(), block)) block.clear();
    return true;
}

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
