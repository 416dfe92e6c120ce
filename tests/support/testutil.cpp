#include "tests/support/testutil.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/platform.h"

namespace testutil {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path base = std::filesystem::temp_directory_path() /
                                 ("tavelin-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(base);
    // Canonical, so paths compare equal to what the engine resolves.
    path_ = str(std::filesystem::canonical(base));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(u8(path_), ec);
}

std::string TempDir::file(const std::string& name) const {
    std::string out = path_;
    std::size_t start = 0;
    for (std::size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1)
        out = platform::joinPath(out, name.substr(start, slash - start));
    return platform::joinPath(out, name.substr(start));
}

std::string TempDir::mkdir(const std::string& name) const {
    const std::string p = file(name);
    std::filesystem::create_directories(u8(p));
    return p;
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value.c_str());
#else
    setenv(name_.c_str(), value.c_str(), 1);
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
    _putenv_s(name_.c_str(), "");
#else
    unsetenv(name_.c_str());
#endif
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(u8(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

#ifndef _WIN32
std::string capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
    return out;
}

bool haveCommand(const std::string& name) { return !capture("command -v " + name + " 2>/dev/null").empty(); }
#endif

std::string wineX64Folder() {
    std::error_code ec;
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows"})
        if (std::filesystem::is_directory(p, ec)) return p;
    return std::string();
}

}  // namespace testutil
