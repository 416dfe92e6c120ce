// The checks a release runs on the files it ships: their signatures and
// their hardening, each file read once per run (one open serves both), and
// the lines they give for the report, --ship and --require-signed.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "inspect/closure.h"
#include "inspect/ignore.h"
#include "inspect/mitigations.h"
#include "inspect/ship.h"
#include "inspect/signatures.h"

namespace release {

struct FileCheck {
    signing::FileSignature signature;      // when the checks read signatures
    mitigations::FileHardening hardening;  // when they read the hardening
};

class FileChecks {
public:
    FileChecks(bool signatures, bool hardening) : signatures_(signatures), hardening_(hardening) {}

    bool signatures() const { return signatures_; }
    bool hardening() const { return hardening_; }
    // The checks of the file at `path`, read on first need. A signature
    // costs one read of the whole file (its Authenticode hash).
    const FileCheck& of(const std::string& path);

private:
    bool signatures_, hardening_;
    std::unordered_map<std::string, std::unique_ptr<const FileCheck>> files_;
};

// What a release ships: the listed files, then the DLLs of `set`, each once.
std::vector<std::string> shippedFiles(const std::vector<Closure>& closures, const shipping::ShipSet& set);

// A line per file of `files` that is a PE image, then their count.
std::vector<std::string> signatureLines(const std::vector<std::string>& files, FileChecks& checks);
// --require-signed: a line per PE image of `files` that cannot go out as
// signed (unsigned, changed after signing, a signature that is damaged,
// invalid or cannot be checked), but those whose name `ignore` matches.
std::vector<std::string> unsignedLines(const std::vector<std::string>& files, FileChecks& checks,
                                       const analysis::IgnoreList& ignore);
// A line per file of `files` lacking a mitigation or being a Visual C++
// runtime out of support, then one per such runtime the closures import
// (whether found or not), with the first image importing it.
std::vector<std::string> hardeningLines(const std::vector<std::string>& files, FileChecks& checks,
                                        const std::vector<Closure>& closures);

}  // namespace release
