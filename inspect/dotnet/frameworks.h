// Which installed shared framework the .NET host picks for a framework
// reference, and where a Windows machine keeps its shared frameworks. The
// choice is a pure function of the reference and of the version folders
// under "<dotnet root>/shared/<framework name>", following the host's rules:
//   - versions are semantic versions (major.minor.patch, then "-prerelease"
//     and "+build"; a release sorts above its prereleases, build is ignored);
//   - Disable takes the version asked and nothing else; so does LatestPatch
//     with applyPatches false for a release;
//   - otherwise the candidates are the versions at or above the one asked
//     that the policy allows (LatestPatch: same major.minor; Minor and
//     LatestMinor: same major; Major and LatestMajor: any), the lowest of
//     them (the highest for LatestMinor and LatestMajor), then its latest
//     patch (same major.minor, release or not as below) unless it is a
//     prerelease; with applyPatches false only the same patch number;
//   - a reference to a release looks among releases first and takes a
//     prerelease only when no release fits (DOTNET_ROLL_FORWARD_TO_PRERELEASE=1
//     drops that preference); a reference to a prerelease looks at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/dotnet/runtimeconfig.h"

namespace dotnet {

// A framework version as the host reads folder names and references.
struct FxVersion {
    unsigned major = 0, minor = 0, patch = 0;
    std::string prerelease;  // with its '-': "-preview.7.23375.6", or empty
    std::string build;       // with its '+', or empty

    bool isPrerelease() const { return !prerelease.empty(); }
    std::string text() const;
};

// False for what the host refuses: fewer than three numbers, leading zeros,
// characters outside [0-9A-Za-z-] in the labels, empty labels.
bool parseFxVersion(std::string_view text, FxVersion& out);
// Below zero, zero or above: numbers, then release above prerelease, then
// the prerelease labels one by one (numbers below words); build ignored.
int compareFxVersions(const FxVersion& a, const FxVersion& b);

struct FrameworkRequest {
    std::string name;
    std::string version;  // as the reference writes it
    RollForward rollForward = RollForward::Minor;
    bool applyPatches = true;
    // Whether releases are looked at first. Unset: a reference to a release
    // prefers releases; DOTNET_ROLL_FORWARD_TO_PRERELEASE=1 sets it false.
    std::optional<bool> preferRelease;

    static FrameworkRequest from(const FrameworkReference& reference);
};

struct FrameworkChoice {
    enum class Outcome {
        Found,       // `version` is the folder the host takes
        NotFound,    // no installed version fits: `reason` says which were seen
        BadVersion,  // the reference's version is not one the host reads
    };
    Outcome outcome = Outcome::NotFound;
    std::string version;  // the folder name, as installed
    std::string reason;
};

// `installed`: the folder names under shared/<name>/ (others than versions
// are skipped, as the host skips them).
FrameworkChoice chooseFramework(const FrameworkRequest& request, const std::vector<std::string>& installed);

// Two references to one framework (an app's and another framework's) made
// one, as the host does before it looks at the disk: the higher version,
// the looser settings; false when the lower one's policy does not reach the
// higher version (`reason` says so).
bool reconcileRequests(const FrameworkRequest& a, const FrameworkRequest& b, FrameworkRequest& out,
                       std::string& reason);

// The dotnet folders the host of a program of `programMachine` looks in
// when nothing (DOTNET_ROOT, the registered install location) says
// otherwise, relative to the drive's root: "Program Files/dotnet" for a
// native program, "Program Files (x86)/dotnet" for an x86 program on 64-bit
// Windows, "Program Files/dotnet/x64" for an x64 program on ARM64 Windows.
// `windowsMachine` is the machine of Windows itself (of its ntdll.dll).
std::vector<std::string> defaultDotnetFolders(std::uint16_t programMachine, std::uint16_t windowsMachine);

// The same found on disk for the Windows folder `windowsFolder` ("C:\Windows",
// or a Wine prefix's drive_c/windows), each name matched ignoring case as
// Windows matches it; only the folders that exist, as full paths. With
// `windowsMachine` 0 it is read from the folder's System32\ntdll.dll.
std::vector<std::string> dotnetRoots(const std::string& windowsFolder, std::uint16_t programMachine,
                                     std::uint16_t windowsMachine = 0);

// The version folders of shared framework `name` under a dotnet root (the
// framework's folder matched ignoring case), in the order listed; empty when
// there is none.
std::vector<std::string> installedVersions(const std::string& dotnetRoot, const std::string& name);

}  // namespace dotnet
