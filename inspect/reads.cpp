#include "inspect/reads.h"

#include "inspect/fileversion.h"
#include "platform/versioninfo.h"

Memo::Memo(const pe::ReadConfig& config, platform::SearchPlaces& places) : config_(config), places_(places) {
    config_.version = true;
    config_.manifest = !places.windowsFolder().empty();
    // A run that checks functions looks up the exports of every DLL it finds.
    config_.exports = config_.functions;
}

Memo::File& Memo::file(const std::string& path) {
    // A row asks for a file's version, machine and binary version in turn.
    if (last_ && lastPath_ == path) return *last_;
    File& f = files_[path];
    // One open of the file for its tables, its machine and its version.
    if (!f.image) f.image = std::make_shared<const pe::ImageRead>(pe::readImage(path, config_));
    lastPath_ = path;
    last_ = &f;
    return f;
}

std::shared_ptr<const pe::ImageRead> Memo::image(const std::string& path) { return file(path).image; }

std::shared_ptr<const pe::ImageRead> Memo::imageWithFunctions(const std::string& path) {
    File& f = file(path);
    if (f.image->functionsRead) return f.image;
    if (!f.withFunctions) {
        pe::ReadConfig config = config_;
        config.functions = true;
        config.version = config.manifest = false;
        config.exports = true;
        f.withFunctions = std::make_shared<const pe::ImageRead>(pe::readImage(path, config));
    }
    return f.withFunctions;
}

const std::string& Memo::version(const std::string& path) {
    File& f = file(path);
    if (!f.versionKnown) {
        if (f.image->versionRead) {
            f.version = f.image->version;
            f.fixedVersion = f.image->fixedVersion;
            f.hasVersion = f.image->hasVersion;
        } else {
            // The platform's own version functions (Windows).
            const std::vector<std::uint8_t> block = FileVersionBlock(path);
            f.hasVersion = platform::versionString(block, "FileVersion", f.version);
            if (!f.hasVersion) f.version = kNoVersion;
            f.fixedVersion = FixedFileVersion(block);
        }
        f.versionKnown = true;
    }
    return f.version;
}

bool Memo::hasVersion(const std::string& path) {
    version(path);
    return file(path).hasVersion;
}

const std::string& Memo::fixedVersion(const std::string& path) {
    version(path);
    return file(path).fixedVersion;
}

std::shared_ptr<const pe::ExportTable> Memo::exports(const std::string& path) {
    File& f = file(path);
    if (f.image->exports) return f.image->exports;
    if (f.withFunctions && f.withFunctions->exports) return f.withFunctions->exports;
    if (!f.exports) f.exports = std::make_shared<const pe::ExportTable>(pe::readExports(path));
    return f.exports;
}

bool Memo::findFile(const std::string& dir, const std::string& name, std::string& path) {
    return places_.findFile(dir, name, path);
}
