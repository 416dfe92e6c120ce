#include "tests/support/windowstree.h"

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace testutil {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Sixteen hex digits that look like the store's hashes and differ per assembly.
std::string hashOf(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

}  // namespace

std::string dependencyXml(const std::string& name, const std::string& version, const std::string& arch,
                          const std::string& token, const std::string& extra) {
    return "<dependency><dependentAssembly" + extra + "><assemblyIdentity type=\"win32\" name=\"" + name +
           "\" version=\"" + version + "\" processorArchitecture=\"" + arch + "\" publicKeyToken=\"" + token +
           "\" language=\"*\"/></dependentAssembly></dependency>\n";
}

std::string assemblyManifest(const std::string& name, const std::string& version, const std::string& arch,
                             const std::string& token, const std::vector<std::string>& files, const std::string& body) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "  <assemblyIdentity type=\"win32\" name=\"" + name + "\" version=\"" + version +
        "\" processorArchitecture=\"" + arch + "\"" + (token.empty() ? "" : " publicKeyToken=\"" + token + "\"") +
        "/>\n";
    for (const std::string& f : files) xml += "  <file name=\"" + f + "\"/>\n";
    return xml + body + "</assembly>\n";
}

std::uint16_t machineOfArchitecture(const std::string& arch) {
    if (arch == "x86" || arch == "wow64") return platform::kMachineI386;
    if (arch == "amd64") return platform::kMachineAmd64;
    if (arch == "arm64") return platform::kMachineArm64;
    return 0;
}

WindowsTree::WindowsTree(const std::string& root, bool lowerCase, bool compressed) : compressed_(compressed) {
    const auto name = [&](const char* n) { return lowerCase ? lower(n) : std::string(n); };
    windows_ = platform::joinPath(root, name("Windows"));
    system32_ = platform::joinPath(windows_, name("System32"));
    syswow64_ = platform::joinPath(windows_, name("SysWOW64"));
    winsxs_ = platform::joinPath(windows_, name("WinSxS"));
    manifests_ = platform::joinPath(winsxs_, name("Manifests"));
    for (const std::string* d : {&system32_, &syswow64_, &manifests_}) std::filesystem::create_directories(u8(*d));
}

std::string WindowsTree::add(const StoreAssembly& a) {
    const std::string head = a.arch + "_" + lower(a.name) + "_" + a.token + "_" + a.version + "_" + a.language;
    const std::string stem = head + "_" + (a.wine ? "deadbeef" : hashOf(head));
    std::string manifest = assemblyManifest(a.name, a.version, a.arch, a.token, a.files, a.body);
    if (compressed_) {
        std::string delta = std::string("DCM\x01", 4) + "PA30";
        for (unsigned char c : hashOf(manifest) + hashOf(stem)) delta.push_back(static_cast<char>(c ^ 0xA5));
        manifest = delta;
    }
    pew::writeFile(platform::joinPath(manifests_, stem + ".manifest"), manifest);
    if (a.folder) {
        const std::string dir = platform::joinPath(winsxs_, stem);
        std::filesystem::create_directories(u8(dir));
        pew::Image image;
        image.machine = machineOfArchitecture(a.arch);
        image.pe32plus = image.machine == platform::kMachineAmd64 || image.machine == platform::kMachineArm64;
        image.exporting({"Export"});
        for (const std::string& f : a.files) pew::writeFile(platform::joinPath(dir, f), pew::build(image));
    }
    return stem;
}

void WindowsTree::addServicedAssemblies() {
    for (const std::string arch : {"x86", "amd64"}) {
        for (const std::string version : {"6.0.19041.1", "6.0.22621.1", "6.0.22621.2506"})
            add({arch, "Microsoft.Windows.Common-Controls", "6595b64144ccf1df", version, "none", false, true,
                 {"comctl32.dll"}, ""});
        add({arch, "Microsoft.Windows.Common-Controls", "6595b64144ccf1df", "5.82.22621.2506", "none", false, true,
             {"comctl32.dll"}, ""});
        add({arch, "Microsoft.VC80.CRT", "1fc8b3b9a1e18e3b", "8.0.50727.6195", "none", false, true,
             {"msvcr80.dll", "msvcp80.dll", "msvcm80.dll"}, ""});
        add({arch, "Microsoft.VC90.CRT", "1fc8b3b9a1e18e3b", "9.0.30729.9635", "none", false, true,
             {"msvcr90.dll", "msvcp90.dll", "msvcm90.dll"}, ""});
        add({arch, "Microsoft.VC90.MFC", "1fc8b3b9a1e18e3b", "9.0.30729.9635", "none", false, true, {"mfc90.dll"},
             "  " + dependencyXml("Microsoft.VC90.CRT", "9.0.30729.9635", arch, "1fc8b3b9a1e18e3b")});
    }
}

}  // namespace testutil
