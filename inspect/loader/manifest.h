// Side-by-side manifests: what an application, DLL or assembly manifest
// says about its own identity, the assemblies it depends on and the files
// it holds, read with a real XML parser (UTF-8 with or without BOM, UTF-16
// with BOM, namespaces and comments). Hostile manifests are bounded in size
// and depth; the reader never throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/pe/resources.h"
#include "platform/text.h"

namespace sxs {

struct AssemblyIdentity {
    std::string name;
    std::string versionText;                 // as written
    std::array<std::uint16_t, 4> version{};  // major, minor, build, revision
    bool versionValid = false;               // digits and dots, at most four numbers below 65536
    std::string processorArchitecture;       // as written: "*", "x86", "amd64", "wow64", "msil", ...; empty when absent
    std::string publicKeyToken;              // empty when absent
    std::string language;                    // empty when absent ("*", "neutral", "en-us", ...)
    std::string type;                        // "win32", "win32-policy", ...

    // A name that can name a file: 1 to 255 bytes, no path separator, no
    // control character, none of * ? " < > |, not "." or "..".
    bool nameValid() const;
    // Both the name and the version can be looked up.
    bool valid() const { return nameValid() && versionValid; }
    // "Name version" as written, for lines and tool tips.
    std::string label() const;
};

// Parses a version the way the loader does: digits and dots, up to four
// numbers each below 65536, missing ones zero ("6.0" is 6.0.0.0).
bool parseAssemblyVersion(std::string_view text, std::array<std::uint16_t, 4>& out);

struct DependentAssembly {
    AssemblyIdentity identity;
    bool optional = false;  // <dependency optional="yes">: missing is no error
    bool delayed = false;   // allowDelayedBinding="true": missing is no error either
    // The loader fails the program when such an assembly is found nowhere.
    bool required() const { return !optional && !delayed; }
};

enum class ManifestStatus {
    Ok,
    TooLarge,     // over kMaxManifestSize
    NotXml,       // not well-formed (or empty)
    TooDeep,      // elements nested deeper than kMaxManifestDepth
    NotAssembly,  // the root element is not <assembly>
    // Windows 10/11's store keeps its manifests compressed ("DCM", "DCN",
    // "DCS" or "DCD" and a delta against a base it holds elsewhere): not
    // XML, and not damaged either. Its name says what it is.
    Compressed,
};

struct Manifest {
    ManifestStatus status = ManifestStatus::NotXml;
    AssemblyIdentity identity;  // its own <assemblyIdentity>, empty when it has none
    // Each <dependency>/<dependentAssembly>/<assemblyIdentity>, in document
    // order; those without a name are left out.
    std::vector<DependentAssembly> dependencies;
    // The <file name=...> of <assembly>: bare file names only (a name with a
    // path separator, "." or ".." is left out), in document order.
    std::vector<std::string> files;

    bool ok() const { return status == ManifestStatus::Ok; }
};

using pe::kMaxManifestSize;
constexpr unsigned kMaxManifestDepth = 256;
// What one manifest may list: more is left out.
constexpr std::size_t kMaxManifestEntries = 4096;

// Reads a manifest in any encoding the loader accepts (UTF-8 with or without
// BOM, UTF-16 LE or BE with BOM); elements and attributes are matched by
// their local name, whatever their namespace prefix.
Manifest parseManifest(const void* data, std::size_t size);

// Where a module's manifest came from.
struct ModuleManifest {
    enum class Source { None, Embedded, File } source = Source::None;
    std::string path;  // the module (embedded) or its .manifest file
    Manifest manifest;
};

// Finds `name` in `folder`, ignoring case where the platform's names do not
// (the search's folder listings); the plain path when not given.
using FileLookup = std::function<bool(const std::string& folder, const std::string& name, std::string& path)>;

// The manifest the loader reads for the module at `path`: for a program its
// resource ID 1, for a DLL its resource ID 2 (the loader reads no other ID
// for a DLL's imports: a DLL's ID 1 only serves when the DLL is itself a
// private assembly), else `<file name>.manifest` beside it. `resource`: that
// resource as already read (moduleResource), so the file is not opened again.
ModuleManifest manifestOf(const std::string& path, bool isDll, const FileLookup& lookup = {},
                          const pe::ModuleResource* resource = nullptr);

// The bytes begin as a compressed store manifest does.
bool compressedManifest(const std::uint8_t* data, std::size_t size);

// Reads and parses a manifest file, bounded by kMaxManifestSize; false when
// the file cannot be opened.
bool readManifestFile(const std::string& path, Manifest& out);

// Assembly names, tokens and architectures compare ignoring ASCII case.
using platform::asciiLower;
using platform::equalsIgnoringCase;

}  // namespace sxs
