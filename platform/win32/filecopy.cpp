// Copies into a folder on Windows, through the wide functions: CREATE_NEW
// beside the final name, FlushFileBuffers, MoveFileExW.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/filecopy.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr DWORD kBlock = 1 << 16;

std::string reason(DWORD code = GetLastError()) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n && text ? narrow(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    void reset(HANDLE h) {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }
    bool close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

HANDLE openRegular(const std::string& path, BY_HANDLE_FILE_INFORMATION& info, std::string& why) {
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = path + ": " + reason();
        return h;
    }
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = path + ": not a regular file";
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Reads up to `count` bytes; -1 on an error.
long long readFull(HANDLE h, char* out, DWORD count) {
    DWORD done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!ReadFile(h, out + done, count - done, &n, nullptr)) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace

bool pathExists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool detail::makeFolder(const std::string& folder, std::string& why) {
    if (CreateDirectoryW(wide(folder).c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS && folderExists(folder)) return true;
    why = folder + ": " +
          (code == ERROR_ALREADY_EXISTS ? std::string("a file stands where the folder should be") : reason(code));
    return false;
}

// The file system itself ignores case: the entry's own spelling is all
// there is to find.
std::string fileIgnoringCase(const std::string& folder, const std::string& name) {
    const std::string path = joinPath(folder, name);
    // FindFirstFile would take them as wildcards; no file name holds them.
    if (name.find_first_of("*?") != std::string::npos) return {};
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide(path).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return {};
    FindClose(find);
    return joinPath(folder, narrow(data.cFileName, wcslen(data.cFileName)));
}

Comparison compareFiles(const std::string& a, const std::string& b, std::string& why) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    Handle fa(openRegular(a, ia, why));
    if (fa.get() == INVALID_HANDLE_VALUE) return Comparison::Failed;
    Handle fb(openRegular(b, ib, why));
    if (fb.get() == INVALID_HANDLE_VALUE) return Comparison::Failed;
    if (ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
        ia.nFileIndexLow == ib.nFileIndexLow)
        return Comparison::Same;
    if (ia.nFileSizeHigh != ib.nFileSizeHigh || ia.nFileSizeLow != ib.nFileSizeLow) return Comparison::Different;
    const HANDLE handles[] = {fa.get(), fb.get()};
    return detail::compareContents(
        [&](int file, char* out, std::size_t count) { return readFull(handles[file], out, static_cast<DWORD>(count)); },
        [] { return reason(); }, a, b, why);
}

std::string stageCopy(const std::string& source, const std::string& target, std::string& why) {
    BY_HANDLE_FILE_INFORMATION info;
    Handle in(openRegular(source, info, why));
    if (in.get() == INVALID_HANDLE_VALUE) return {};
    // Named after its file, so a copy a kill left behind says what it was;
    // CREATE_NEW never takes over a file that is there.
    static std::atomic<unsigned> counter{0};
    std::string staged;
    Handle out;
    for (int attempt = 0; attempt < 100; ++attempt) {
        staged = target + ".tavelin-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        HANDLE h = CreateFileW(wide(staged).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            out.reset(h);
            break;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            why = directoryPart(target) + ": " + reason();
            return {};
        }
    }
    if (out.get() == INVALID_HANDLE_VALUE) {
        why = directoryPart(target) + ": no free temporary name";
        return {};
    }
    std::vector<char> buf(kBlock);
    bool ok = true;
    while (ok) {
        const long long n = readFull(in.get(), buf.data(), kBlock);
        if (n < 0) {
            why = source + ": " + reason();
            ok = false;
            break;
        }
        if (n == 0) break;
        DWORD written = 0;
        if (!WriteFile(out.get(), buf.data(), static_cast<DWORD>(n), &written, nullptr) || static_cast<long long>(written) != n) {
            why = staged + ": " + reason();
            ok = false;
        }
    }
    if (ok && !FlushFileBuffers(out.get())) {
        why = staged + ": " + reason();
        ok = false;
    }
    if (!out.close() && ok) {
        why = staged + ": " + reason();
        ok = false;
    }
    if (!ok) {
        DeleteFileW(wide(staged).c_str());
        return {};
    }
    return staged;
}

bool commitStaged(const std::string& staged, const std::string& target, std::string& why) {
    if (MoveFileExW(wide(staged).c_str(), wide(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = target + ": " + reason();
    return false;
}

void discardStaged(const std::string& staged) { DeleteFileW(wide(staged).c_str()); }

void syncFolder(const std::string&) {}

bool isStagedName(const std::string& name) {
    static const std::string mark = ".tavelin-";
    const std::size_t at = name.rfind(mark);
    if (at == std::string::npos || at == 0) return false;
    const std::string tail = name.substr(at + mark.size());
    const std::size_t dash = tail.find('-');
    const auto digits = [](const std::string& t) {
        return !t.empty() && t.size() <= 10 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash != std::string::npos && digits(tail.substr(0, dash)) && digits(tail.substr(dash + 1));
}

std::vector<std::string> removeLeftoverStaged(const std::string& folder) {
    std::vector<std::string> removed;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(wide(joinPath(folder, "*.tavelin-*")).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return removed;
    do {
        const std::string name = narrow(found.cFileName);
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || !isStagedName(name))
            continue;
        // A running copy holds its file without sharing: it cannot be deleted.
        const std::string path = joinPath(folder, name);
        if (DeleteFileW(wide(path).c_str())) removed.push_back(path);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(removed.begin(), removed.end());
    return removed;
}

}  // namespace platform
