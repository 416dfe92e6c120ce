// A Windows-like folder for tests: Windows/System32, SysWOW64 and a WinSxS
// store whose Manifests folder and assembly folders are named as a real
// Windows (or Wine) names them, with manifests written as real ones are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// <dependency><dependentAssembly><assemblyIdentity .../></...></...>
std::string dependencyXml(const std::string& name, const std::string& version, const std::string& arch = "*",
                          const std::string& token = "6595b64144ccf1df", const std::string& extra = "");
// An assembly manifest: its identity, its files, then `body` (dependencies, ...).
std::string assemblyManifest(const std::string& name, const std::string& version, const std::string& arch,
                             const std::string& token, const std::vector<std::string>& files,
                             const std::string& body = "");

struct StoreAssembly {
    std::string arch = "amd64";  // x86, amd64, wow64, msil, arm64
    std::string name;
    std::string token = "6595b64144ccf1df";
    std::string version;
    std::string language = "none";
    bool wine = false;     // Wine's "deadbeef" instead of a real hash
    bool folder = true;    // false: the manifest without its folder
    std::vector<std::string> files;  // written as small PE images of the arch's machine
    std::string body;      // more of the manifest (dependencies)
};

class WindowsTree {
public:
    // Creates `root`/Windows with System32, SysWOW64 and WinSxS/Manifests
    // (spelt as given: a Wine prefix spells them in lower case).
    // `compressed`: the manifests written as Windows 10/11 keeps them ("DCM",
    // 1, and a delta this writer fills with noise), not as XML.
    explicit WindowsTree(const std::string& root, bool lowerCase = false, bool compressed = false);

    const std::string& windows() const { return windows_; }
    const std::string& system32() const { return system32_; }
    const std::string& syswow64() const { return syswow64_; }
    const std::string& winsxs() const { return winsxs_; }
    const std::string& manifests() const { return manifests_; }

    // Writes the assembly's manifest and folder; returns their stem
    // ("amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.22621.2506_none_<hash>").
    std::string add(const StoreAssembly& a);
    // Common-Controls 5.82 and 6.0 in several servicing versions, the VC80
    // and VC90 CRTs, for x86 and amd64, as a Windows 11 store holds them.
    void addServicedAssemblies();

private:
    std::string windows_, system32_, syswow64_, winsxs_, manifests_;
    bool compressed_ = false;
};

// The machine a store architecture stands for (0 for msil).
std::uint16_t machineOfArchitecture(const std::string& arch);

}  // namespace testutil
