// Copies into a folder on Linux: mkstemp beside the final name, fsync, rename.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/filecopy.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr std::size_t kBlock = 1 << 16;

std::string reason() { return std::strerror(errno); }

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting what close says (a delayed write error).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// O_NONBLOCK: a FIFO in the way must not hang the copy.
int openRegular(const std::string& path, struct stat& st, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        why = path + ": " + reason();
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + ": not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `count` bytes, going on after interruptions and short reads;
// -1 on an error.
long long readFull(int fd, char* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

bool writeAll(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool pathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool detail::makeFolder(const std::string& folder, std::string& why) {
    if (::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && folderExists(folder))) return true;
    why = folder + ": " + (errno == EEXIST ? std::string("a file stands where the folder should be") : reason());
    return false;
}

std::string fileIgnoringCase(const std::string& folder, const std::string& name) {
    const std::string exact = joinPath(folder, name);
    struct stat st;
    if (::lstat(exact.c_str(), &st) == 0) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return {};
    const std::string wanted = toLower(name);
    std::vector<std::string> matches;
    while (const dirent* e = readdir(dir.get())) {
        const std::string entry = e->d_name;
        if (entry != "." && entry != ".." && toLower(entry) == wanted) matches.push_back(entry);
    }
    if (matches.empty()) return {};
    return joinPath(folder, *std::min_element(matches.begin(), matches.end()));
}

Comparison compareFiles(const std::string& a, const std::string& b, std::string& why) {
    struct stat sa, sb;
    Fd fa(openRegular(a, sa, why));
    if (fa.get() < 0) return Comparison::Failed;
    Fd fb(openRegular(b, sb, why));
    if (fb.get() < 0) return Comparison::Failed;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return Comparison::Same;
    if (sa.st_size != sb.st_size) return Comparison::Different;
    const int fds[] = {fa.get(), fb.get()};
    return detail::compareContents(
        [&](int file, char* out, std::size_t count) { return readFull(fds[file], out, count); }, reason, a, b, why);
}

std::string stageCopy(const std::string& source, const std::string& target, std::string& why) {
    struct stat st;
    Fd in(openRegular(source, st, why));
    if (in.get() < 0) return {};
    // Hidden and named after its file, so a copy a kill left behind says
    // what it was; a name near the system's limit gives way.
    const std::string name = fileNamePart(target);
    std::string staged =
        joinPath(directoryPart(target), (name.size() > 200 ? std::string() : "." + name) + ".tavelin-XXXXXX");
    Fd out(mkstemp(staged.data()));
    if (out.get() < 0) {
        why = directoryPart(target) + ": " + reason();
        return {};
    }
    // Held while the bytes go in: the sign that the copy is not a leftover.
    flock(out.get(), LOCK_EX | LOCK_NB);
    std::vector<char> buf(kBlock);
    bool ok = true;
    if (fchmod(out.get(), st.st_mode & 0777) != 0) {
        why = staged + ": " + reason();
        ok = false;
    }
    while (ok) {
        const long long n = readFull(in.get(), buf.data(), kBlock);
        if (n < 0) {
            why = source + ": " + reason();
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!writeAll(out.get(), buf.data(), static_cast<std::size_t>(n))) {
            why = staged + ": " + reason();
            ok = false;
        }
    }
    if (ok && fsync(out.get()) != 0) {
        why = staged + ": " + reason();
        ok = false;
    }
    if (!out.close() && ok) {
        why = staged + ": " + reason();
        ok = false;
    }
    if (!ok) {
        ::unlink(staged.c_str());
        return {};
    }
    return staged;
}

bool commitStaged(const std::string& staged, const std::string& target, std::string& why) {
    if (::rename(staged.c_str(), target.c_str()) == 0) return true;
    why = target + ": " + reason();
    return false;
}

void discardStaged(const std::string& staged) { ::unlink(staged.c_str()); }

bool isStagedName(const std::string& name) {
    static const std::string mark = ".tavelin-";
    constexpr std::size_t kRandom = 6;
    if (name.size() < mark.size() + kRandom || name[0] != '.') return false;
    const std::size_t at = name.size() - kRandom - mark.size();
    if (name.compare(at, mark.size(), mark) != 0) return false;
    return std::all_of(name.end() - kRandom, name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

std::vector<std::string> removeLeftoverStaged(const std::string& folder) {
    std::vector<std::string> removed;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return removed;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (!isStagedName(name)) continue;
        const std::string path = joinPath(folder, name);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        // A running copy holds its lock: only an unlocked one is left over.
        if (fd.get() < 0 || flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        if (::unlink(path.c_str()) == 0) removed.push_back(path);
    }
    ::closedir(d);
    std::sort(removed.begin(), removed.end());
    return removed;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

}  // namespace platform
