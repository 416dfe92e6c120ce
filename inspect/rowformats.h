// The grid's rows as scripts read them: CSV (RFC 4180) and JSON, with the
// same keys in the same order; what the command line's --format and the
// window's "Exporter…" write.
#pragma once

#include <string>
#include <vector>

#include "inspect/analysis.h"

namespace analysis {

struct RowFormat {
    bool delayLoad = false;   // the delay-load column, with -d
    bool assemblies = false;  // the assembly column, with -a
};

std::string csv(const std::vector<Row>& rows, const RowFormat& format);
std::string json(const std::vector<Row>& rows, const RowFormat& format);

// A JSON string literal of `text` (invalid UTF-8 replaced).
std::string jsonString(const std::string& text);
// "missing-dll", ...; null for rows that tell no problem.
const char* problemName(Problem problem);
// "x86", "x64", "arm64", "arm", else the code as "0x01c4"; empty for 0.
std::string machineKey(std::uint16_t machine);

}  // namespace analysis
