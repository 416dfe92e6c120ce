// The SBOM of a release as CycloneDX 1.6 JSON: one component per file the
// release ships (the listed programs and their ship set), with its name,
// version, supplier, SHA-256, machine, origin and folder, a Debian package
// URL for a file a Debian package owns; the dependency graph of the
// resolved imports; and the redistributables and .NET frameworks the
// programs need but do not carry, as components of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inspect/closure.h"
#include "inspect/reads.h"
#include "inspect/releasechecks.h"
#include "inspect/ship.h"

namespace sbom {

struct Options {
    std::string toolVersion;  // tavelin-report's
    // The BOM's time (Unix seconds); none: now. With a time given the serial
    // number is derived from it and the components' hashes, so that one
    // release gives one BOM (SOURCE_DATE_EPOCH).
    std::optional<std::int64_t> time;
    // The checks the run makes, as properties of each file's component:
    // the signatures', the hardening's, or both.
    release::FileChecks* checks = nullptr;
    bool signatures = false, hardening = false;
};

// The properties each file's component carries ("tavelin:machine", ...).
inline constexpr const char* kPropertyPrefix = "tavelin:";

// The BOM of `closures` (the listed files' whole closures) and their ship
// set, read through the run's `reads`; the text ends with a line feed.
std::string cyclonedx(const std::vector<Closure>& closures, const shipping::ShipSet& set, Reads& reads,
                      const Options& options);

// The SHA-256 of the file at `path`, lower-case hex, read in bounded chunks;
// empty when it cannot be read.
std::string sha256File(const std::string& path);

// "2024-05-01T12:00:00Z".
std::string utcText(std::int64_t unixSeconds);

}  // namespace sbom
