#include "inspect/debian.h"

#include <cstdio>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

extern char** environ;
#endif

namespace debian {

namespace {

std::string percentEncoded(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

#ifndef _WIN32
// dpkg's answers for a few hundred files fit in well under this.
constexpr std::size_t kMaxOutput = 4u << 20;

// The standard output of `args` (no shell), standard error discarded;
// empty when it cannot be run.
std::string run(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string out;
    if (err == 0) {
        char buf[65536];
        for (;;) {
            const ssize_t n = read(pipeFds[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            // Past the bound the rest is drained, not kept.
            if (out.size() < kMaxOutput) out.append(buf, static_cast<std::size_t>(n));
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }
    close(pipeFds[0]);
    return out.size() > kMaxOutput ? std::string() : out;
}

// ID and VERSION_ID of /etc/os-release: ("debian", "12").
std::pair<std::string, std::string> system() {
    std::string id = "debian", version;
    std::FILE* f = std::fopen("/etc/os-release", "r");
    if (!f) return {id, version};
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const auto value = [&](std::size_t at) {
            std::string v = s.substr(at);
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) v = v.substr(1, v.size() - 2);
            return v;
        };
        if (s.rfind("ID=", 0) == 0) id = value(3);
        else if (s.rfind("VERSION_ID=", 0) == 0) version = value(11);
    }
    std::fclose(f);
    return {id, version};
}
#endif

}  // namespace

std::string packageUrl(const std::string& vendor, const std::string& name, const std::string& version,
                       const std::string& arch, const std::string& distro) {
    std::string url = "pkg:deb/" + percentEncoded(vendor) + "/" + percentEncoded(name) + "@" + percentEncoded(version);
    url += "?arch=" + percentEncoded(arch);
    if (!distro.empty()) url += "&distro=" + percentEncoded(distro);
    return url;
}

std::unordered_map<std::string, std::string> parseOwners(const std::string& output) {
    std::unordered_map<std::string, std::string> owners;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("diversion by ", 0) == 0) continue;
        // "pkg[:arch][, pkg...]: /path"; paths are absolute, so the owners
        // end at the first ": /".
        const std::size_t at = line.find(": /");
        if (at == std::string::npos) continue;
        std::string first = line.substr(0, at);
        first = first.substr(0, first.find(", "));
        if (!first.empty()) owners.emplace(line.substr(at + 2), first);
    }
    return owners;
}

std::unordered_map<std::string, std::string> packageUrls(const std::vector<std::string>& paths) {
    std::unordered_map<std::string, std::string> urls;
#ifdef _WIN32
    (void)paths;  // no dpkg
#else
    if (paths.empty()) return urls;
    // dpkg knows a file by the path its package installed; a link or a
    // merged /usr may lead there from another.
    std::vector<std::string> args = {"dpkg-query", "-S", "--"};
    std::vector<std::string> canonical;
    for (const std::string& p : paths) {
        std::error_code ec;
        const std::string real = std::filesystem::canonical(p, ec).string();
        canonical.push_back(ec ? p : real);
        args.push_back(p);
        if (canonical.back() != p) args.push_back(canonical.back());
    }
    const std::unordered_map<std::string, std::string> owners = parseOwners(run(args));
    if (owners.empty()) return urls;
    std::vector<std::string> query = {"dpkg-query", "-W", "-f", "${binary:Package}\t${Version}\t${Architecture}\n",
                                      "--"};
    for (const auto& [path, package] : owners) query.push_back(package);
    // By the name as -S gave it ("libwine:amd64") and the bare name.
    std::unordered_map<std::string, std::string> versions;
    const auto [vendor, release] = system();
    const std::string distro = release.empty() ? std::string() : vendor + "-" + release;
    std::istringstream in(run(query));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string package, version, arch;
        if (!std::getline(fields, package, '\t') || !std::getline(fields, version, '\t') || !std::getline(fields, arch))
            continue;
        const std::string name = package.substr(0, package.find(':'));
        const std::string url = packageUrl(vendor, name, version, arch, distro);
        versions.emplace(package, url);
        versions.emplace(name, url);
        versions.emplace(name + ":" + arch, url);
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        auto owner = owners.find(paths[i]);
        if (owner == owners.end()) owner = owners.find(canonical[i]);
        if (owner == owners.end()) continue;
        if (const auto v = versions.find(owner->second); v != versions.end()) urls.emplace(paths[i], v->second);
    }
#endif
    return urls;
}

}  // namespace debian
