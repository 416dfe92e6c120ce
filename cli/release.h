// The command line's release checks: --signatures, --require-signed,
// --hardening, --format cyclonedx and --diff, what they print and how they
// end. The checks themselves are the engine's (inspect/releasechecks.h,
// sbom.h, diff.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/answers.h"
#include "cli/rowformats.h"
#include "inspect/analysis.h"
#include "inspect/releasechecks.h"

namespace cli {

struct ReleaseOptions {
    bool signatures = false;     // --signatures
    bool requireSigned = false;  // --require-signed
    bool hardening = false;      // --hardening
    bool cyclonedx = false;      // --format cyclonedx
    std::string diff;            // --diff OLD.json; empty when not asked

    bool asked() const { return signatures || requireSigned || hardening || cyclonedx || !diff.empty(); }
};

// The other options, as far as they meet these.
struct OtherOptions {
    bool ship = false;
    std::string copyTo;
    bool tree = false, why = false, unique = false, missing = false;
    std::string format = "text";  // "text", "csv", "json", "cyclonedx"
    RowFormat rows;               // the rows' own columns (-d, -a)
};

// What cannot be asked together with them, in one line; empty when all goes.
std::string releaseContradiction(const ReleaseOptions& release, const OtherOptions& other);
// The SBOM, --ship and --copy-to follow the whole closure.
bool releaseFollowsClosure(const ReleaseOptions& release, const OtherOptions& other);

// The text report of rows as the command line writes it (--unique,
// --missing), the rows filtered by --ignore already.
using TextReport = std::function<std::string(const std::vector<analysis::Row>& rows)>;

struct ReleaseCall {
    std::vector<std::string> files;  // the listed files
    const analysis::IgnoreList* ignore = nullptr;
    ReleaseOptions release;
    OtherOptions other;
    TextReport text;
    std::string toolVersion;
};

// The answer of a run with release checks. Status 1 when the report has a
// problem row, --ship refuses its set, --require-signed finds a file that
// cannot go out as signed, or --diff finds the new run worse; 2 when the
// earlier report cannot be read.
Answer releaseAnswer(const ReleaseCall& call, AnalysisRun& run);

// The checks of one file as JSON members (", \"signature\": {...}") and
// CSV columns: what the rows and the ship set's objects carry.
std::string signatureJson(const signing::FileSignature& s);
std::string hardeningJson(const mitigations::FileHardening& h);

}  // namespace cli
