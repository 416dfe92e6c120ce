// Helpers shared by the test suites: temporary folders and UTF-8 paths.
#pragma once

#include <filesystem>
#include <string>

namespace testutil {

inline std::filesystem::path u8(const std::string& s) {
    return std::filesystem::path(reinterpret_cast<const char8_t*>(s.c_str()));
}
inline std::string str(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with `name` by the platform's separator; the slashes
    // of a relative path such as "app/sub/x.dll" become that separator too.
    std::string file(const std::string& name) const;
    // Creates the subfolder `name` and returns its path.
    std::string mkdir(const std::string& name) const;

private:
    std::string path_;
};

// An environment variable set for the life of the object, then unset.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
};

// Changes the process's current directory (the engine never does).
inline bool changeDirectory(const std::string& dir) {
    std::error_code ec;
    std::filesystem::current_path(u8(dir), ec);
    return !ec;
}

// The bytes of the file at `path` (empty when it cannot be read).
std::string fileBytes(const std::string& path);

#ifndef _WIN32
// The standard output of a shell command (popen), whole.
std::string capture(const std::string& command);

// True when the shell finds the command.
bool haveCommand(const std::string& name);
#endif

// Folder of the current test binary's real-world samples (Wine's PE DLLs),
// empty when this machine has none.
std::string wineX64Folder();

}  // namespace testutil
