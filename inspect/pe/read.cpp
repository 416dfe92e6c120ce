#include "inspect/pe/read.h"

#include <new>

#include "inspect/fileversion.h"
#include "platform/versioninfo.h"
#include "platform/peimage.h"
#include "platform/platform.h"

namespace pe {

namespace {

constexpr unsigned kLoadConfigEntry = 10;

// What the load configuration says of the image's imports: its
// DependentLoadFlags, and for an ARM64X image the tables of its EC view.
void readHybrid(const platform::PeImage& image, const ReadConfig& config, ReadBudget& budget, ImageRead& out) {
    const LoadConfig lc = readLoadConfig(image);
    out.dependentLoadFlags = lc.dependentLoadFlags.value_or(0);
    const CodeView view = readCodeView(image, lc);
    out.codeKind = view.kind;
    if (view.kind != CodeView::Kind::Arm64x || view.outcome != CodeView::Outcome::Read) return;
    // The view's own directories (its header fixups), its table bytes
    // patched where the other fixups land.
    const EcViewSource ecBytes(image, view);
    const platform::PeImage ec(ecBytes);
    const platform::PeImage::Directory imports{view.import.rva, view.import.size};
    const platform::PeImage::Directory delays{view.delayImport.rva, view.delayImport.size};
    bool damaged = false;
    out.hasEcView = readImports(ec, config.functions, budget, out.ecImports, damaged, &imports) != TableStatus::Damaged;
    if (config.delayLoad) readDelayImports(ec, config.functions, budget, out.ecDelayImports, &delays);
}

// The import and delay-load tables over the parse.
void readTables(const platform::PeImage& image, const ReadConfig& config, ImageRead& out) {
    if (image.headers() >= platform::PeImage::Headers::Machine) out.machine = image.machine();
    out.isDll = image.isDll();
    out.pe32plus = image.plus();
    out.cliHeader = cliFlagsOf(image, out.cliFlags);
    if (!image.complete()) {
        out.outcome = ImageRead::Outcome::WrongFormat;
        return;
    }
    // Headers and section table whole, and nothing the loader refuses to map.
    const Mapping mapping = checkMapping(image);
    out.unmappable = mapping.outcome == Mapping::Outcome::Mappable ? Mapping::Problem::None : mapping.problem;
    out.loadable = image.sectionsRead() && mapping.outcome == Mapping::Outcome::Mappable;
    out.functionsRead = config.functions;
    ReadBudget budget(image.bytes().size());
    if (image.directory(kLoadConfigEntry).rva != 0) readHybrid(image, config, budget, out);
    switch (readImports(image, config.functions, budget, out.imports, out.tablesDamaged)) {
        case TableStatus::Read: out.outcome = ImageRead::Outcome::Read; break;
        case TableStatus::Absent: out.outcome = ImageRead::Outcome::NoImport; break;
        case TableStatus::Damaged: out.outcome = ImageRead::Outcome::WrongFormat; return;
    }
    if (config.delayLoad && !out.tablesDamaged &&
        readDelayImports(image, config.functions, budget, out.delayImports) == TableStatus::Damaged)
        out.tablesDamaged = true;
}

void readManaged(const platform::PeImage& image, const ReadConfig& config, ImageRead& out) {
    if (!config.assemblies) return;
    auto managed = std::make_shared<ManagedImage>(readManagedImage(image));
    if (managed->state != ManagedImage::State::NotManaged) out.managed = std::move(managed);
}

ImageRead outOfMemory() {
    ImageRead out;
    out.outcome = ImageRead::Outcome::NotViewable;
    return out;
}

}  // namespace

ImageRead readImage(const platform::ByteSource& bytes, const ReadConfig& config) {
    try {
        ImageRead out;
        const platform::PeImage image(bytes);
        readTables(image, config, out);
        readManaged(image, config, out);
        if (config.exports) out.exports = std::make_shared<const ExportTable>(readExports(image));
        return out;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

ImageRead readImage(const std::string& path, const ReadConfig& config) {
    try {
        ImageRead out;
        platform::FileReader file;
        switch (file.open(path)) {
            case platform::MapStatus::Ok: break;
            case platform::MapStatus::NotMappable: out.outcome = ImageRead::Outcome::NotMappable; return out;
            case platform::MapStatus::NotViewable: out.outcome = ImageRead::Outcome::NotViewable; return out;
            default:
                out.outcome = ImageRead::Outcome::NotOpenable;
                out.openFailure = file.failure();
                return out;
        }
        const platform::PeImage image(file);
        readTables(image, config, out);
        // A read that failed, rather than ending at the end of the file.
        if (file.failed() && (out.outcome == ImageRead::Outcome::WrongFormat || out.tablesDamaged)) {
            out.outcome = ImageRead::Outcome::NotViewable;
            out.imports.dlls.clear();
            out.delayImports.dlls.clear();
            out.tablesDamaged = false;
        }
        readManaged(image, config, out);
        if (config.manifest) out.manifest = std::make_shared<const ModuleResource>(moduleResource(image));
        if (config.exports) {
            auto exports = std::make_shared<ExportTable>(readExports(image));
            if (file.failed() && exports->state == ExportTable::State::Damaged) exports->state = ExportTable::State::Unreadable;
            out.exports = std::move(exports);
        }
        std::vector<std::uint8_t> block;
        if (config.version && platform::versionBlockOf(path, image, block)) {
            out.versionRead = true;
            out.hasVersion = platform::versionString(block, "FileVersion", out.version);
            if (!out.hasVersion) out.version = kNoVersion;
            out.fixedVersion = FixedFileVersion(block);
        }
        return out;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

}  // namespace pe
