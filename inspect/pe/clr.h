// The .NET metadata of a PE image: the CLI header (data directory 14), the
// metadata root and its streams, then from the tables the assembly's own
// name, the assemblies it references and the native modules its P/Invoke
// methods name. Bounded like the import reader: every read within the file
// and the stream it belongs to, row counts by what the stream could hold,
// names and the work of hashing keys by what the heaps hold. Never throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/peimage.h"

namespace pe {

// An assembly's identity, as the Assembly and AssemblyRef rows give it.
struct AssemblyName {
    std::string name;  // UTF-8, control characters as '?', cut ("…") past kMaxMetadataName bytes
    std::uint16_t major = 0, minor = 0, build = 0, revision = 0;
    std::string culture;         // empty for a neutral assembly
    std::string publicKeyToken;  // 16 lower-case hex digits, or empty (not strong-named)

    // "4.0.0.0"
    std::string versionText() const;
};

// The longest name kept from the metadata, in bytes; longer ones are cut and
// end with "…".
constexpr std::size_t kMaxMetadataName = 1024;

struct ManagedImage {
    enum class State {
        NotManaged,  // no CLI header (or not a PE image, or a file that cannot be read)
        Read,        // read whole
        Damaged,     // a CLI header, but the metadata breaks off; what came before is kept
    };
    State state = State::NotManaged;

    std::uint32_t cliFlags = 0;  // the CLI header's Flags (COMIMAGE_FLAGS_*)
    // IL only: no native code. A mixed-mode image (C++/CLI) clears it and
    // has a native import table of its own beside the references.
    bool ilOnly() const { return (cliFlags & 1) != 0; }
    std::string runtimeVersion;  // the metadata root's version text, "v4.0.30319"

    bool hasAssembly = false;  // false for a module that is no assembly (a .netmodule)
    AssemblyName assembly;
    std::vector<AssemblyName> references;  // AssemblyRef rows, in table order
    // ModuleRef rows: the native DLLs of [DllImport], as stored ("kernel32",
    // "user32.dll"), in table order.
    std::vector<std::string> moduleRefs;
};

// "Name, Version=1.2.3.4, Culture=neutral, PublicKeyToken=0123456789abcdef",
// as .NET writes an assembly's name.
std::string displayName(const AssemblyName& name);
// The DLL a P/Invoke module name stands for: ".dll" appended when the name
// has no extension, as the runtime does.
std::string pinvokeDllName(const std::string& module);
// The framework's own assemblies (Microsoft's and ECMA's public key tokens).
bool frameworkToken(const std::string& publicKeyToken);
// Versions compared number by number.
bool olderThan(const AssemblyName& found, const AssemblyName& asked);

ManagedImage readManagedImage(const platform::PeImage& image);
// Whether the image has a CLI header, and its Flags, without the metadata.
bool cliFlagsOf(const platform::PeImage& image, std::uint32_t& flags);
ManagedImage readManagedImage(const platform::ByteSource& image);
ManagedImage readManagedImage(const std::string& path);

}  // namespace pe
