// The row formats of --format, which the engine holds for the window too.
#pragma once

#include "inspect/rowformats.h"

namespace cli {

using analysis::ExtraFields;
using analysis::csv;
using analysis::json;
using analysis::jsonString;
using analysis::machineKey;
using analysis::problemName;
using analysis::RowFormat;

}  // namespace cli
