// The grid's rows as scripts read them: CSV (RFC 4180) and JSON, with the
// same keys in the same order; what the command line's --format and the
// window's "Exporter…" write.
#pragma once

#include <string>
#include <vector>

#include "inspect/analysis.h"
#include "inspect/pe/arm64x.h"

namespace analysis {

// Fields a caller adds after a row's own (the release checks'): JSON
// members and CSV columns.
class ExtraFields {
public:
    virtual ~ExtraFields() = default;
    virtual std::vector<std::string> csvKeys() const = 0;
    // One text per key, unquoted.
    virtual std::vector<std::string> csvValues(const Row& row) const = 0;
    // ", \"key\": value" for each member.
    virtual std::string jsonMembers(const Row& row) const = 0;
};

struct RowFormat {
    bool delayLoad = false;   // the delay-load column, with -d
    bool assemblies = false;  // the assembly column, with -a
    // The dependent-load-flags column: set by csv() and json() themselves
    // when some row has the flags.
    bool dependentLoadFlags = false;
    // The reason column (why a file cannot be opened): likewise.
    bool reason = false;
    const ExtraFields* extra = nullptr;
};

std::string csv(const std::vector<Row>& rows, const RowFormat& format);
std::string json(const std::vector<Row>& rows, const RowFormat& format);

// A JSON string literal of `text` (invalid UTF-8 replaced).
std::string jsonString(const std::string& text);
// "missing-dll", ...; null for rows that tell no problem.
const char* problemName(Problem problem);
// "x86", "x64", "arm64", "arm", else the code as "0x01c4"; empty for 0.
std::string machineKey(std::uint16_t machine, pe::CodeView::Kind kind = pe::CodeView::Kind::Plain);

}  // namespace analysis
