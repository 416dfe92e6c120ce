// The release checks on arbitrary bytes: as an image, its signatures
// summed up and its hardening with their lines; as a report for --diff,
// read, compared with itself and with nothing, and written back.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "inspect/diff.h"
#include "inspect/lines.h"
#include "inspect/mitigations.h"
#include "inspect/signatures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::MemoryByteSource source(data, size);
    const platform::PeImage image(source);
    const signing::FileSignature s = signing::readSignature(image, "vcruntime140.dll");
    if (s.valid() && s.signers.empty()) std::abort();
    if (lines::signature("f.dll", s).empty()) std::abort();
    const mitigations::FileHardening h = mitigations::readFileHardening(image, "f.dll");
    if (!h.flags.read && !h.flags.missing.empty()) std::abort();

    std::vector<diff::ReportRow> rows;
    std::string reason;
    const bool read = diff::parseReport(std::string_view(reinterpret_cast<const char*>(data), size), rows, reason);
    if (read && !reason.empty()) std::abort();
    const analysis::IgnoreList ignore;
    const diff::Difference same = diff::compare(rows, rows, ignore);
    if (same.worse()) std::abort();  // nothing is new against itself
    const diff::Difference gone = diff::compare(rows, {}, ignore);
    diff::textLines(gone);
    diff::json(diff::compare({}, rows, ignore));
    return 0;
}
