#include "inspect/rowformats.h"

#include <cstdio>

#include "inspect/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace analysis {

namespace {

const char* kindName(analysis::RowKind kind) {
    switch (kind) {
        case analysis::RowKind::Listed: return "listed";
        case analysis::RowKind::Import: return "import";
        case analysis::RowKind::Error: return "error";
    }
    return "";
}

// What a field holds: text, a JSON boolean (CSV "true"/"false"), or text
// that is JSON null (an empty CSV field) when absent.
enum class FieldType { Text, Boolean, TextOrNull };

// The keys of a row, in order, for both CSV columns and JSON members.
struct Field {
    const char* key;
    FieldType type;
    // Text: the value; Boolean: "true" or "false"; TextOrNull: empty for null.
    std::string (*value)(const analysis::Row&);
};

std::vector<Field> rowFields(const RowFormat& format) {
    using analysis::Row;
    std::vector<Field> fields = {
        {"kind", FieldType::Text, [](const Row& r) { return std::string(kindName(r.kind)); }},
        {"importer", FieldType::Text, [](const Row& r) { return r.cells[analysis::kImporter]; }},
        {"file", FieldType::Text, [](const Row& r) { return r.cells[analysis::kFile]; }},
        {"path", FieldType::Text, [](const Row& r) { return r.cells[analysis::kPath]; }},
        // A file without a version resource has no version, whatever the
        // grid writes for it.
        {"version", FieldType::TextOrNull,
         [](const Row& r) {
             return r.kind != analysis::RowKind::Error && !r.hasVersion ? std::string() : r.cells[analysis::kVersion];
         }},
        {"problem", FieldType::TextOrNull,
         [](const Row& r) {
             const char* name = problemName(r.problem);
             return std::string(name ? name : "");
         }},
    };
    if (format.delayLoad)
        fields.push_back(
            {"delay-load", FieldType::Boolean, [](const Row& r) { return std::string(r.delayLoad ? "true" : "false"); }});
    const Field more[] = {
        // Why each DLL was taken from its folder.
        {"origin", FieldType::TextOrNull, [](const Row& r) { return std::string(loader::originName(r.origin())); }},
        // What a problem row is about, so that scripts never read French.
        {"dll", FieldType::TextOrNull, [](const Row& r) { return r.dll; }},
        {"function", FieldType::TextOrNull, [](const Row& r) { return r.function; }},
        {"machine", FieldType::TextOrNull, [](const Row& r) { return machineKey(r.machine, r.codeKind); }},
        {"importer-path", FieldType::Text, [](const Row& r) { return r.importerPath; }},
        {"file-version", FieldType::TextOrNull, [](const Row& r) { return r.fileVersion; }},
        // Why a DLL is there: the image whose import table named it first.
        {"via", FieldType::TextOrNull, [](const Row& r) { return platform::fileNamePart(r.viaPath); }},
        {"via-path", FieldType::TextOrNull, [](const Row& r) { return r.viaPath; }},
    };
    fields.insert(fields.end(), std::begin(more), std::end(more));
    // The .NET reference a row answers, with -a only.
    // With -a too: a listed file's kind of .NET program, and the machine
    // its process is (an Any CPU program's is not its header's).
    if (format.assemblies) {
        fields.push_back({"assembly", FieldType::TextOrNull, [](const Row& r) { return r.reference(); }});
        fields.push_back({"dotnet", FieldType::TextOrNull, [](const Row& r) { return r.dotnetKind; }});
        fields.push_back({"runs-as", FieldType::TextOrNull,
                          [](const Row& r) { return r.dotnetKind.empty() ? std::string() : machineKey(r.runsAs); }});
    }
    // Why a file cannot be opened (only when some row has a reason).
    if (format.reason)
        fields.push_back({"reason", FieldType::TextOrNull,
                          [](const Row& r) { return std::string(platform::openFailureKey(r.reason)); }});
    // The flags of the image whose table named the DLL, where they limited
    // its search (only when some image of the run carries them).
    if (format.dependentLoadFlags)
        fields.push_back({"dependent-load-flags", FieldType::TextOrNull, [](const Row& r) {
                              return r.dependentLoadFlags ? lines::loadFlags(r.dependentLoadFlags) : std::string();
                          }});
    return fields;
}

RowFormat withFlags(RowFormat format, const std::vector<analysis::Row>& rows) {
    for (const analysis::Row& r : rows) {
        format.dependentLoadFlags = format.dependentLoadFlags || r.dependentLoadFlags;
        format.reason = format.reason || r.reason != platform::OpenFailure::None;
    }
    return format;
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string csvField(const std::string& text) {
    const std::string s = platform::validUtf8(text);
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

const char* problemName(Problem p) {
    switch (p) {
        case Problem::MissingDll: return "missing-dll";
        case Problem::MissingFunction: return "missing-function";
        case Problem::WrongMachine: return "wrong-machine";
        case Problem::NotReadable: return "not-readable";
        case Problem::NotPe: return "not-pe";
        case Problem::MissingAssembly: return "missing-assembly";
        case Problem::OldAssembly: return "old-assembly";
        case Problem::MissingFramework: return "missing-framework";
        case Problem::None: break;
    }
    return nullptr;
}

std::string machineKey(std::uint16_t machine, pe::CodeView::Kind kind) {
    if (kind == pe::CodeView::Kind::Arm64ec && machine == platform::kMachineAmd64) return "arm64ec";
    if (kind == pe::CodeView::Kind::Arm64x && machine == platform::kMachineArm64) return "arm64x";
    switch (machine) {
        case 0: return {};
        case platform::kMachineI386: return "x86";
        case platform::kMachineAmd64: return "x64";
        case platform::kMachineArm64: return "arm64";
        case 0x01C0:  // ARM
        case 0x01C2:  // Thumb
        case 0x01C4: return "arm";  // ARMv7 (ARMNT)
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(machine));
    return buf;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : platform::validUtf8(text)) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string json(const std::vector<analysis::Row>& rows, const RowFormat& format) {
    const std::vector<Field> fields = rowFields(withFlags(format, rows));
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        out += i ? ",\n {" : "\n {";
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (f) out += ", ";
            out += jsonString(fields[f].key);
            out += ": ";
            const std::string value = fields[f].value(rows[i]);
            if (fields[f].type == FieldType::Boolean) out += value;
            else if (fields[f].type == FieldType::TextOrNull && value.empty()) out += "null";
            else out += jsonString(value);
        }
        if (format.extra) out += format.extra->jsonMembers(rows[i]);
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

std::string csv(const std::vector<analysis::Row>& rows, const RowFormat& format) {
    const std::vector<Field> fields = rowFields(withFlags(format, rows));
    std::string out;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        if (f) out += ',';
        out += csvField(fields[f].key);
    }
    if (format.extra)
        for (const std::string& key : format.extra->csvKeys()) out += ',' + csvField(key);
    out += '\n';
    for (const analysis::Row& r : rows) {
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (f) out += ',';
            out += csvField(fields[f].value(r));
        }
        if (format.extra)
            for (const std::string& value : format.extra->csvValues(r)) out += ',' + csvField(value);
        out += '\n';
    }
    return out;
}

}  // namespace analysis
