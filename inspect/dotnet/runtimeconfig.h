// A .NET program's "<app>.runtimeconfig.json": the target framework, the
// shared frameworks it runs on (a framework-dependent app) or carries (a
// self-contained one), and the roll-forward settings the host applies to
// each reference, read as the host reads them: runtimeOptions first, then
// each framework reference's own settings. Never throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/bytes.h"

namespace dotnet {

// Roll-forward policies, from the strictest.
enum class RollForward { Disable, LatestPatch, Minor, LatestMinor, Major, LatestMajor };

// "latestpatch" or "LatestPatch" alike, as the host compares them; nothing
// for a value the host refuses.
std::optional<RollForward> parseRollForward(std::string_view text);
const char* rollForwardName(RollForward policy);
// The legacy rollForwardOnNoCandidateFx: 0 LatestPatch, 1 Minor, 2 Major;
// the host takes any other number as Disable.
RollForward rollForwardFromNoCandidateFx(long long value);

struct FrameworkReference {
    std::string name;     // "Microsoft.NETCore.App"
    std::string version;  // as written: "8.0.0"
    // What the host resolves this reference with: the file's runtimeOptions
    // settings, overridden by the reference's own.
    RollForward rollForward = RollForward::Minor;
    bool applyPatches = true;
};

struct RuntimeConfig {
    enum class Outcome {
        Read,
        Missing,  // no such file: the host runs such an app as self-contained
        Damaged,  // the host refuses the file: `reason` says why
    };
    Outcome outcome = Outcome::Missing;
    std::string reason;

    std::string tfm;  // "net8.0"
    // framework, then frameworks[], as the host reads them.
    std::vector<FrameworkReference> frameworks;
    // A self-contained app's frameworks (name and version only).
    std::vector<FrameworkReference> includedFrameworks;
    // runtimeOptions' own settings, as written.
    std::optional<RollForward> rollForward;
    std::optional<bool> applyPatches;
    std::optional<long long> rollForwardOnNoCandidateFx;
    // configProperties (name, value; other than strings as JSON text), in
    // file order. The host hands them to the runtime; it resolves no
    // framework with them.
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<std::string> additionalProbingPaths;

    // "framework" or "frameworks" was there: the host looks for shared
    // frameworks (even for an empty list, which it then cannot run).
    bool frameworkDependent = false;
    bool selfContained() const { return outcome == Outcome::Read && !frameworkDependent; }
};

RuntimeConfig parseRuntimeConfig(std::string_view text);
// From a bundle entry or any other bytes.
RuntimeConfig parseRuntimeConfig(const platform::ByteSource& bytes);
RuntimeConfig readRuntimeConfig(const std::string& path);

}  // namespace dotnet
