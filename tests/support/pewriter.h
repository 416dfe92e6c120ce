// A small writer of PE images for tests: PE32 or PE32+, an import section
// with one descriptor per DLL name (and the functions imported from it),
// delay-load descriptors, an export table, a resource section with version
// resources (fixed info, string tables, translation table) and any other
// resource by ID (manifests), and .NET metadata (CLI header, metadata root,
// tables stream and heaps).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pew {

struct StringTable {
    std::string key;  // eight hex digits, language then code page: "040c04e4"
    std::vector<std::pair<std::string, std::string>> values;  // UTF-8
};

struct VersionInfo {
    std::uint16_t major = 1, minor = 0, release = 0, build = 0;  // fixed file version
    std::vector<std::uint32_t> translations;                     // language | code page << 16
    std::vector<StringTable> tables;
    bool withVarFileInfo = true;
    bool withFixedInfo = true;

    // The usual block: one table under `key`, "FileVersion" = `fileVersion`,
    // and the matching translation entry.
    static VersionInfo simple(const std::string& fileVersion, std::uint16_t language = 0x040C,
                              std::uint16_t codePage = 0x04E4);
};

// The bytes of a VS_VERSIONINFO tree.
std::vector<std::uint8_t> versionBlock(const VersionInfo& info);

struct ExtraSection {
    std::uint32_t virtualAddress = 0, virtualSize = 0, rawPointer = 0, rawSize = 0;
};

// An imported function: by name (hint 0), or by ordinal when the name is empty.
struct Function {
    std::string name;
    std::uint16_t ordinal = 0;
};
inline Function ordinal(std::uint16_t n) { return {{}, n}; }

// An exported function, its ordinal the table's base plus its place: code,
// or a forwarder ("OTHER.Function", "OTHER.#12"); without a name, by
// ordinal only; `none` leaves its address zero (no function there).
struct Export {
    std::string name;
    std::string forward;
    bool none = false;
};

// An assembly's identity as the Assembly and AssemblyRef rows store it.
struct ManagedName {
    std::string name;
    std::uint16_t major = 0, minor = 0, build = 0, revision = 0;
    std::string culture;
    std::vector<std::uint8_t> publicKey;  // a token (8 bytes), or a full key with `fullKey`
    bool fullKey = false;                 // AssemblyRef: flag 0x0001, the blob is the key
};

// .NET metadata: a CLI header (data directory 14) and the metadata in a
// section of their own, with the Module row, the <Module> TypeDef row and
// the rows below.
struct Managed {
    bool enc = false;  // the tables stream named "#-" instead of "#~"
    // HeapSizes flags: 4-byte indexes into #Strings, #GUID, #Blob whatever
    // their sizes; four bytes of extra data after the row counts.
    bool wideStrings = false, wideGuids = false, wideBlobs = false, extraData = false;
    std::uint32_t cliFlags = 1;  // IL only; a mixed-mode image clears it
    std::string runtimeVersion = "v4.0.30319";
    std::string moduleName = "test.dll";
    std::optional<ManagedName> assembly;
    std::vector<ManagedName> references;
    std::vector<std::string> moduleRefs;
    // Rows of zeros after a table's own (tables 0x00 to 0x2C), to make the
    // indexes into it wide.
    std::map<unsigned, std::uint32_t> extraRows;
};

// A resource of the image, by type, ID and language.
struct Resource {
    std::uint32_t type = 0, id = 0;
    std::uint16_t language = 0;
    std::vector<std::uint8_t> bytes;
};

constexpr std::uint32_t kRtManifest = 24;

// A load configuration (data directory 10) in a last section of its own,
// each field at its PE32 or PE32+ place. The structure's bytes hold every
// field below whatever `size` says, and stop at 64 KiB whatever it says.
struct LoadConfig {
    std::optional<std::uint32_t> size;           // the Size field; none: 0xC0 (PE32) or 0x140 (PE32+)
    std::optional<std::uint32_t> directorySize;  // data directory 10's size; none: as Size
    std::uint16_t dependentLoadFlags = 0;
    std::uint64_t securityCookie = 0;
    std::uint64_t seHandlerTable = 0, seHandlerCount = 0;
    std::uint64_t guardCfFunctionTable = 0, guardCfFunctionCount = 0;
    std::uint32_t guardFlags = 0;
    std::uint64_t dynamicValueRelocTable = 0;
    std::uint64_t chpeMetadataPointer = 0;
    std::uint32_t dynamicValueRelocTableOffset = 0;
    std::uint16_t dynamicValueRelocTableSection = 0;
};

// An ARM64X fixup: at `rva`, zero `size` bytes (type 0), write the `size`
// bytes of `value` (type 1), or add `value`, a signed multiple of 4, to the
// 32-bit value there (type 2).
struct Arm64xFixup {
    std::uint32_t rva = 0;
    std::uint8_t type = 1, size = 4;
    std::uint64_t value = 0;
};

// An ARM64X dynamic relocation table, after the load configuration in its
// section; the load configuration points at it and at CHPE metadata (a
// pointer to the section, unless one is given). Its fixups set the EC
// view's machine and, with `ecImports`, an import directory of its own
// (descriptors naming those DLLs, after the load configuration), then
// `extra`.
struct Arm64x {
    std::uint32_t version = 1;  // 1 or 2
    std::uint16_t ecMachine = 0x8664;
    std::vector<std::string> ecImports;
    std::vector<Arm64xFixup> extra;
};

struct Image {
    bool pe32plus = false;
    std::uint16_t machine = 0;         // 0: x86 for PE32, x64 for PE32+
    std::vector<std::string> imports;  // DLL names, as stored (bytes)
    // Functions imported through imports[i] (none where missing).
    std::vector<std::vector<Function>> importFunctions;
    bool importDirectory = true;       // false: data directory 1 left zero
    // Delay-load descriptors: DLL names and their functions; `delayAddresses`
    // writes the old form (attributes 0, addresses instead of RVAs; PE32).
    std::vector<std::string> delayImports;
    std::vector<std::vector<Function>> delayFunctions;
    bool delayAddresses = false;
    std::vector<Export> exports;
    std::uint32_t exportBase = 1;
    bool exportDirectory = false;      // an export table even without exports
    // Version resources, one per language identifier.
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> versionResources;
    // Other resources by ID (RT_MANIFEST, ...), in the same directory.
    std::vector<Resource> resources;
    // Sections placed in the table before the real ones.
    std::vector<ExtraSection> extraSectionsFirst;
    // Named sections with their bytes, after the others (".apiset", ...).
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> dataSections;
    // .NET metadata, in a last section.
    std::optional<Managed> managed;
    // DllCharacteristics; none: DYNAMIC_BASE | NX_COMPAT (0x0140).
    std::optional<std::uint16_t> dllCharacteristics;
    std::optional<LoadConfig> loadConfig;
    std::optional<Arm64x> arm64x;  // needs loadConfig

    Image& import(std::string name, std::vector<Function> functions = {}) {
        imports.push_back(std::move(name));
        importFunctions.resize(imports.size());
        importFunctions.back() = std::move(functions);
        return *this;
    }
    Image& delayImport(std::string name, std::vector<Function> functions = {}) {
        delayImports.push_back(std::move(name));
        delayFunctions.push_back(std::move(functions));
        return *this;
    }
    Image& exporting(std::vector<std::string> names) {
        for (std::string& n : names) exports.push_back({std::move(n), {}, false});
        return *this;
    }
    Image& version(const VersionInfo& info, std::uint16_t language = 0x040C) {
        versionResources.emplace_back(language, versionBlock(info));
        return *this;
    }
    // An RT_MANIFEST resource: ID 1 for a program's own manifest, 2 for a DLL's.
    Image& manifest(const std::string& text, std::uint32_t id = 1, std::uint16_t language = 0x0409) {
        resources.push_back({kRtManifest, id, language, std::vector<std::uint8_t>(text.begin(), text.end())});
        return *this;
    }
};

// Where the writer put things, for tests that damage an image.
struct Layout {
    std::uint32_t ntHeaders = 0;
    std::uint32_t optionalHeader = 0;
    std::uint32_t importDataDirectory = 0;  // file offset of data directory entry 1
    std::uint32_t sectionTable = 0;
    std::uint32_t importDescriptors = 0;    // file offset of the first descriptor
    std::uint32_t importSectionRva = 0;
    std::uint32_t importSectionRaw = 0;
    std::vector<std::uint32_t> dllNameOffsets;  // file offsets of the names
    std::vector<std::uint32_t> thunkOffsets;    // file offsets of each descriptor's lookup table (0: shared zero)
    std::uint32_t delayDescriptors = 0;         // file offset of the first delay-load descriptor
    std::uint32_t exportDirectory = 0;          // file offset of the export directory
    std::uint32_t exportNamesRva = 0;           // RVA of the name strings' first byte

    // With .NET metadata, all file offsets:
    struct ManagedOffsets {
        std::uint32_t cliDirectory = 0;  // data directory entry 14
        std::uint32_t cliHeader = 0;
        std::uint32_t metadata = 0;                 // the metadata root ("BSJB")
        std::vector<std::uint32_t> streamHeaders;   // #~ (or #-), #Strings, #US, #GUID, #Blob
        std::uint32_t tablesStream = 0, strings = 0, blobs = 0, guids = 0;
        std::array<std::uint32_t, 64> rowCount{};  // each present table's row count (0: absent)
        std::array<std::uint32_t, 64> table{};     // each present table's first row
        std::array<std::uint32_t, 64> rowSize{};
    } managed;

    // With a load configuration: its section (RVA, file offset of its
    // header and of its data), the structure and the ARM64X table.
    std::uint32_t loadConfigSectionRva = 0, loadConfigSectionHeader = 0, loadConfigSectionRaw = 0;
    std::uint32_t loadConfig = 0, loadConfigRva = 0;
    std::uint32_t arm64xTable = 0, arm64xTableRva = 0;  // the IMAGE_DYNAMIC_RELOCATION_TABLE header
};

std::vector<std::uint8_t> build(const Image& image, Layout* layout = nullptr);

// One API set of a schema: its name ("api-ms-win-crt-heap-l1-1-0") and its
// hosts, the default one under the importer "" and exceptions by importer.
struct ApiSet {
    std::string name;
    std::vector<std::pair<std::string, std::string>> hosts;
};
// The bytes of an ".apiset" section of schema version 2, 4 or 6 (the older
// versions store the names without their "api-"/"ext-" prefix).
std::vector<std::uint8_t> apiSetSchema(std::uint32_t version, const std::vector<ApiSet>& sets);

// Single-file .NET bundles. An apphost holds the bundle marker: eight bytes
// of header offset (zero until bundled), then the 32-byte signature.
std::vector<std::uint8_t> bundleMarker();
struct BundleFile {
    std::string path;
    std::uint8_t type = 1;  // 0 unknown, 1 assembly, 2 native, 3 deps.json, 4 runtimeconfig.json, 5 symbols
    std::vector<std::uint8_t> bytes;
    std::uint64_t inflatedSize = 0;  // not zero: `bytes` are deflated (header version 6)
};
// `apphost` (an image holding the marker) with the files appended, then the
// header of `majorVersion` (1, 2 or 6) and the manifest, the marker set to
// point at them. Version 2 and later name the first deps.json and
// runtimeconfig.json files in the header.
std::vector<std::uint8_t> bundle(std::vector<std::uint8_t> apphost, std::uint32_t majorVersion,
                                 const std::vector<BundleFile>& files, const std::string& bundleId = "bundle-id",
                                 std::uint64_t flags = 0);

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v);
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);

// Writes the bytes to `path` (creating or replacing it).
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeFile(const std::string& path, const std::string& text);

}  // namespace pew
