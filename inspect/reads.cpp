#include "inspect/reads.h"

#include "inspect/fileversion.h"
#include "platform/platform.h"

namespace {
void setPath(Located& r, const std::string& path) {
    r.found = true;
    r.path = platform::listPath(path);
    r.key = platform::toLower(r.path);
}
}  // namespace

std::shared_ptr<Located> locatedAt(const std::string& path, platform::Origin origin) {
    auto r = std::make_shared<Located>();
    setPath(*r, path);
    r->origin = origin;
    return r;
}

Located locate(const platform::DllSearchResult& s) {
    Located r;
    if (s.found) setPath(r, s.path);
    r.origin = s.origin;
    r.variant = s.variant;
    if (!s.otherPath.empty()) {
        r.otherPath = platform::listPath(s.otherPath);
        r.otherMachine = s.otherMachine;
    }
    return r;
}

const LocatedPtr& notLocated() {
    static const LocatedPtr none = std::make_shared<const Located>();
    return none;
}

Memo::File& Memo::file(const std::string& path) {
    // A row asks for a file's version, machine and binary version in turn.
    if (last_ && lastPath_ == path) return *last_;
    File& f = files_[path];
    // One open of the file for its imports, its machine and its version.
    if (!f.image) f.image = std::make_shared<const ImageImports>(readImageImports(path, true, options_, manifests_));
    lastPath_ = path;
    last_ = &f;
    return f;
}

std::shared_ptr<const ImageImports> Memo::imports(const std::string& path) { return file(path).image; }

// A candidate of the search is read whole at once: most are read later
// anyway (listed, or walked), and one open serves both.
std::uint16_t Memo::machine(const std::string& path) { return file(path).image->machine; }

const std::string& Memo::version(const std::string& path) {
    File& f = file(path);
    if (!f.versionKnown) {
        if (f.image->versionRead) {
            f.version = f.image->version;
            f.fixedVersion = f.image->fixedVersion;
        } else {
            // The platform's own version functions (Windows).
            const std::vector<std::uint8_t> block = FileVersionBlock(path);
            f.version = FileVersionFromBlock(block);
            f.fixedVersion = FixedFileVersion(block);
        }
        f.versionKnown = true;
    }
    return f.version;
}

const std::string& Memo::fixedVersion(const std::string& path) {
    version(path);
    return file(path).fixedVersion;
}

std::shared_ptr<const ExportTable> Memo::exports(const std::string& path) {
    File& f = file(path);
    if (!f.exports) f.exports = std::make_shared<const ExportTable>(readExportTable(path));
    return f.exports;
}

LocatedPtr Memo::search(const std::string& name, const Program& program, std::uint16_t machine) {
    key_.assign(reinterpret_cast<const char*>(&machine), sizeof machine);
    key_.append(reinterpret_cast<const char*>(&program.variant), sizeof program.variant);
    key_.append(program.folder).append(1, '\0').append(name);
    if (const auto it = searches_.find(key_); it != searches_.end()) return it->second;
    auto r = std::make_shared<const Located>(locate(search_.find(
        name, program.folder, machine, [this](const std::string& p) { return this->machine(p); }, program.variant)));
    return searches_.emplace(key_, std::move(r)).first->second;
}
