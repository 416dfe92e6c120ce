// The runtime config and deps file readers on arbitrary text, then what the
// run would do with them: the framework choice among a fixed set of
// installed versions, the assets chosen for each Windows machine.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "inspect/dotnet/depsjson.h"
#include "inspect/dotnet/frameworks.h"
#include "inspect/dotnet/runtimeconfig.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const dotnet::RuntimeConfig config = dotnet::parseRuntimeConfig(text);
    if (config.outcome == dotnet::RuntimeConfig::Outcome::Read && !config.reason.empty()) __builtin_trap();
    if (config.outcome != dotnet::RuntimeConfig::Outcome::Read && config.reason.empty()) __builtin_trap();
    static const std::vector<std::string> installed = {"6.0.0", "6.0.36", "8.0.0-rc.1", "8.0.11", "9.0.0", "x"};
    for (const dotnet::FrameworkReference& ref : config.frameworks) {
        const dotnet::FrameworkChoice choice = dotnet::chooseFramework(dotnet::FrameworkRequest::from(ref), installed);
        if (choice.outcome == dotnet::FrameworkChoice::Outcome::Found &&
            std::find(installed.begin(), installed.end(), choice.version) == installed.end())
            __builtin_trap();
    }
    const dotnet::DepsJson deps = dotnet::parseDepsJson(text);
    if (deps.outcome == dotnet::DepsJson::Outcome::Read && deps.runtimeTarget.empty()) __builtin_trap();
    std::size_t assets = 0;
    for (const dotnet::DepsLibrary& lib : deps.libraries) assets += lib.assets.size() + lib.runtimeTargets.size();
    for (std::uint16_t machine : {platform::kMachineI386, platform::kMachineAmd64, platform::kMachineArm64})
        for (bool selfContained : {false, true})
            if (dotnet::selectAssets(deps, machine, selfContained).size() > assets) __builtin_trap();
    return 0;
}
