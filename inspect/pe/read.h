// One read of one image: the file opened once, its headers parsed once, and
// every table the run's read configuration asks for read over that parse.
// What a run reads is this configuration; how it walks the closure is the
// walk's. Never throws: the outcome says how the read ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "inspect/pe/arm64x.h"
#include "inspect/pe/clr.h"
#include "inspect/pe/exports.h"
#include "inspect/pe/imports.h"
#include "inspect/pe/loadconfig.h"
#include "inspect/pe/mapping.h"
#include "inspect/pe/resources.h"
#include "platform/bytes.h"
#include "platform/platform.h"

namespace pe {

// Which tables a read takes beside the import names and the headers.
struct ReadConfig {
    bool functions = false;   // the imported functions of each descriptor
    bool delayLoad = false;   // the delay-load table
    bool assemblies = false;  // .NET metadata
    bool manifest = false;    // the manifest resource its imports are bound with
    bool version = false;     // the version resource, where the platform reads it from the file
    bool exports = false;     // the export table
};

struct ImageRead {
    enum class Outcome {
        Read,         // the import descriptors walked to their end
        NoImport,     // no import table: nothing to walk
        WrongFormat,  // not a PE image, or a read outside the file (after `imports`)
        NotOpenable,
        NotMappable,
        NotViewable,  // the file could not be read (or memory ran out)
    };
    Outcome outcome = Outcome::NotOpenable;
    // NotOpenable: why.
    platform::OpenFailure openFailure = platform::OpenFailure::None;
    std::uint16_t machine = 0;  // IMAGE_FILE_HEADER.Machine, 0 when not read
    // The headers and the section table read whole: a file the loader could
    // map. A found DLL that is not stops its name's search there.
    bool loadable = false;
    bool isDll = false;  // IMAGE_FILE_DLL: its own manifest is resource ID 2, not 1
    // A CLI header (a .NET image), read whatever the config, and its flags:
    // what decides the machine an IL-only image runs as.
    bool cliHeader = false;
    std::uint32_t cliFlags = 0;
    bool pe32plus = false;
    // Why the loader would not map it (pe::checkMapping), None when it would.
    Mapping::Problem unmappable = Mapping::Problem::None;
    // From the load configuration: the LOAD_LIBRARY_SEARCH_* bits its own
    // static imports are searched with (0 for the default order), and
    // whether it holds ARM64EC code (an ARM64EC or ARM64X image).
    std::uint16_t dependentLoadFlags = 0;
    CodeView::Kind codeKind = CodeView::Kind::Plain;
    // An ARM64X image: the tables an x64 (or ARM64EC) process sees, when
    // the image carries that view.
    bool hasEcView = false;
    ImportTable ecImports, ecDelayImports;
    ImportTable imports;       // descriptor order; those read before a stop
    ImportTable delayImports;  // with ReadConfig::delayLoad
    // A table read for the checks (thunks, hint/names, delay-load
    // descriptors) runs off the file or past its size budget: the image is
    // damaged, as the loader would find it.
    bool tablesDamaged = false;
    bool functionsRead = false;  // read with ReadConfig::functions
    // The file's version, read through the same open file where the platform
    // allows it (see platform::versionBlockOf).
    bool versionRead = false;
    bool hasVersion = false;   // a FileVersion to show
    std::string version;       // the FileVersion text, "V: ???" without one
    std::string fixedVersion;  // its binary file version, "a.b.c.d", empty without one
    // With ReadConfig::assemblies: its .NET metadata (null when it has none).
    std::shared_ptr<const ManagedImage> managed;
    // With ReadConfig::manifest: the manifest resource (null when not read).
    std::shared_ptr<const ModuleResource> manifest;
    // With ReadConfig::exports: the export table (null when not read).
    std::shared_ptr<const ExportTable> exports;
};

// The image at `path`, read as `config` says.
ImageRead readImage(const std::string& path, const ReadConfig& config);
// The same from bytes (in memory, or a file already open); the version is
// not read.
ImageRead readImage(const platform::ByteSource& image, const ReadConfig& config);

}  // namespace pe
