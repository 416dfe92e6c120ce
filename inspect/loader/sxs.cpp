#include "inspect/loader/sxs.h"

#include <algorithm>
#include <deque>
#include <tuple>
#include <unordered_set>

#include "platform/peimage.h"
#include "platform/platform.h"

namespace sxs {

namespace {

bool endsWithIgnoringCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && equalsIgnoringCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string versionText(const std::array<std::uint16_t, 4>& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

std::string machineArchitecture(std::uint16_t machine) {
    switch (machine) {
        case platform::kMachineI386: return "x86";
        case platform::kMachineAmd64: return "amd64";
        case platform::kMachineArm64: return "arm64";
    }
    return std::string();
}

bool anyLanguage(const std::string& lowered) { return lowered.empty() || lowered == "*" || lowered == "neutral"; }

std::string indexKey(std::string_view architecture, std::string_view name, std::string_view token, std::uint16_t major,
                     std::uint16_t minor) {
    std::string key;
    key.reserve(architecture.size() + name.size() + token.size() + 16);
    key.append(architecture).append(1, '_').append(name).append(1, '_').append(token).append(1, '_');
    key.append(std::to_string(major)).append(1, '.').append(std::to_string(minor));
    return key;
}

std::string identityKey(const AssemblyIdentity& id) {
    return asciiLower(id.name) + '|' + asciiLower(id.processorArchitecture) + '|' + asciiLower(id.publicKeyToken) +
           '|' + id.versionText + '|' + asciiLower(id.language);
}

}  // namespace

bool parseStoreName(std::string_view fileName, StoreName& out) {
    constexpr std::string_view kSuffix = ".manifest";
    if (fileName.size() > 512 || !endsWithIgnoringCase(fileName, kSuffix)) return false;
    const std::string_view stem = fileName.substr(0, fileName.size() - kSuffix.size());
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= stem.size(); ++i) {
        if (i == stem.size() || stem[i] == '_') {
            parts.push_back(stem.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() < 6) return false;
    const std::size_t n = parts.size();
    // Names may hold underscores: the fixed fields are counted from both ends.
    const std::string_view name(parts[1].data(), static_cast<std::size_t>(parts[n - 4].data() - parts[1].data()) - 1);
    const std::string_view version = parts[n - 3];
    if (parts[0].empty() || name.empty() || parts[n - 4].empty() || parts[n - 2].empty() || parts[n - 1].empty() ||
        std::count(version.begin(), version.end(), '.') != 3 || !parseAssemblyVersion(version, out.version))
        return false;
    out.architecture = asciiLower(parts[0]);
    out.name = asciiLower(name);
    out.token = asciiLower(parts[n - 4]);
    out.language = asciiLower(parts[n - 2]);
    out.hash = asciiLower(parts[n - 1]);
    out.stem = std::string(stem);
    return true;
}

std::string storeSpelling(std::string_view assemblyName) {
    std::string lowered = asciiLower(assemblyName);
    if (lowered.size() <= 40) return lowered;
    return lowered.substr(0, 19) + ".." + lowered.substr(lowered.size() - 19);
}

std::vector<std::string> architecturesFor(std::string_view asked, std::uint16_t machine) {
    std::string base = asciiLower(asked);
    if (base.empty() || base == "*") base = machineArchitecture(machine);
    std::vector<std::string> out;
    if (!base.empty()) out.push_back(base);
    if (base == "x86") out.push_back("wow64");
    if (base != "msil") out.push_back("msil");
    return out;
}

const Redirection* ActivationContext::find(std::string_view dllName) const {
    const auto it = byName.find(asciiLower(dllName));
    return it == byName.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------

// Lookups through the run's folder index (its listings, its case rule).
class SxsStore::Listings {
public:
    explicit Listings(platform::FolderIndex& index) : index_(index) {}
    bool find(const std::string& dir, const std::string& name, bool folder, std::string& out) {
        return index_.find(dir, name, out, folder ? platform::FolderIndex::Kind::Folder : platform::FolderIndex::Kind::File);
    }

private:
    platform::FolderIndex& index_;
};

// The Manifests folder's names, listed once, each with the hash of what a
// lookup knows of it: "<arch>_<name>_<token>_<major>.<minor>", lower-case.
// Only the few names whose hash a lookup asks for are taken apart.
struct SxsStore::Index {
    bool read = false;
    std::string manifests;               // the Manifests folder
    std::string names;                   // every name, one after the other
    std::vector<std::uint32_t> starts;   // where each name starts in `names`, then its end
    std::vector<std::uint64_t> hashes;   // of each name's key; 0 for a name of another form
    std::size_t count = 0;
    bool x86 = false;  // the store holds assemblies for 32-bit x86 programs

    static std::uint64_t hash(std::string_view lowered) {
        std::uint64_t h = 1469598103934665603ull;
        for (const char c : lowered) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return h | 1;
    }

    // Where a store name's key ends (after the minor version), or 0.
    static std::size_t keyLength(std::string_view name) {
        constexpr std::string_view kSuffix = ".manifest";
        if (name.size() > 512 || !endsWithIgnoringCase(name, kSuffix)) return 0;
        std::size_t end = name.size() - kSuffix.size();
        for (int field = 0; field < 3; ++field) {  // hash, language, version
            end = name.rfind('_', end - 1);
            if (end == std::string_view::npos || end == 0) return 0;
        }
        const std::size_t major = name.find('.', end + 1);
        const std::size_t minor = major == std::string_view::npos ? major : name.find('.', major + 1);
        return minor == std::string_view::npos ? 0 : minor;
    }

    std::string_view name(std::size_t i) const { return std::string_view(names).substr(starts[i], starts[i + 1] - starts[i]); }

    void build() {
        read = true;
        std::string key;
        platform::listFolder(manifests, [&](std::string_view n) {
            starts.push_back(static_cast<std::uint32_t>(names.size()));
            names.append(n);
            const std::size_t length = keyLength(n);
            key.assign(n.substr(0, length));
            for (char& c : key)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            hashes.push_back(length ? hash(key) : 0);
            if (length) ++count;
            if (length && (key.rfind("x86_", 0) == 0 || key.rfind("wow64_", 0) == 0)) x86 = true;
            return hashes.size() < kMaxStoreEntries && names.size() < (1u << 30);
        });
        starts.push_back(static_cast<std::uint32_t>(names.size()));
    }
};

SxsStore::SxsStore(std::string windowsFolder, platform::FolderIndex& files)
    : windowsFolder_(std::move(windowsFolder)), index_(std::make_unique<Index>()), listings_(std::make_unique<Listings>(files)) {}

SxsStore::SxsStore(std::string windowsFolder) : ownIndex_(std::make_unique<platform::FolderIndex>()) {
    windowsFolder_ = std::move(windowsFolder);
    index_ = std::make_unique<Index>();
    listings_ = std::make_unique<Listings>(*ownIndex_);
}

SxsStore::~SxsStore() = default;

const std::string& SxsStore::folder() {
    if (looked_) return folder_;
    looked_ = true;
    std::string winsxs, manifests;
    if (!windowsFolder_.empty() && listings_->find(windowsFolder_, "WinSxS", true, winsxs) &&
        listings_->find(winsxs, "Manifests", true, manifests)) {
        folder_ = winsxs;
        index_->manifests = manifests;
    }
    return folder_;
}

std::size_t SxsStore::size() {
    if (!present()) return 0;
    if (!index_->read) index_->build();
    return index_->count;
}

AssemblyPtr SxsStore::fromManifest(const Manifest& manifest, ResolvedAssembly::Where where, const std::string& folder,
                                   const std::string& manifestPath, const std::string& version) {
    auto a = std::make_shared<ResolvedAssembly>();
    a->where = where;
    a->name = manifest.identity.name;
    a->version = version;
    a->architecture = manifest.identity.processorArchitecture;
    a->folder = folder;
    a->manifestPath = manifestPath;
    a->dependencies = manifest.dependencies;
    for (const std::string& name : manifest.files) {
        AssemblyFile f;
        f.name = name;
        f.present = listings_->find(folder, name, false, f.path);
        if (!f.present) f.path = platform::joinPath(folder, name);
        a->files.push_back(std::move(f));
    }
    return a;
}

AssemblyPtr SxsStore::fromFolder(const AssemblyIdentity& id, const StoreName& name, const std::string& folder,
                                 const std::string& manifestPath, const std::string& version) {
    auto a = std::make_shared<ResolvedAssembly>();
    a->where = ResolvedAssembly::Where::Store;
    a->name = id.name;  // the store's own spelling is lower-cased, and may be cut
    a->version = version;
    a->architecture = name.architecture;
    a->folder = folder;
    a->manifestPath = manifestPath;
    std::size_t count = 0;
    platform::listFolder(folder, [&](std::string_view file) {
        a->files.push_back({std::string(file), platform::joinPath(folder, std::string(file)), true});
        return ++count < kMaxManifestEntries;
    });
    std::sort(a->files.begin(), a->files.end(), [](const AssemblyFile& x, const AssemblyFile& y) { return x.name < y.name; });
    return a;
}

AssemblyPtr SxsStore::findInStore(const AssemblyIdentity& id, std::uint16_t machine) {
    // Without a token or an architecture an assembly can only be private.
    if (!id.valid() || id.publicKeyToken.empty() || id.processorArchitecture.empty() || !present()) return nullptr;
    const std::string cacheKey = "S|" + std::to_string(machine) + '|' + identityKey(id);
    if (const auto hit = found_.find(cacheKey); hit != found_.end()) return hit->second;
    AssemblyPtr& result = found_[cacheKey];
    if (!index_->read) index_->build();

    const std::string name = storeSpelling(id.name);
    const bool abbreviated = name.size() != id.name.size();
    const std::string token = asciiLower(id.publicKeyToken), language = asciiLower(id.language);
    const auto revision = [](const StoreName& s) { return std::make_tuple(s.version[2], s.version[3]); };
    const auto asked = std::make_tuple(id.version[2], id.version[3]);
    for (const std::string& arch : architecturesFor(id.processorArchitecture, machine)) {
        const std::uint64_t key = Index::hash(indexKey(arch, name, token, id.version[0], id.version[1]));
        std::vector<StoreName> parsed;
        for (std::size_t i = 0; i < index_->hashes.size(); ++i) {
            StoreName s;
            if (index_->hashes[i] == key && parseStoreName(index_->name(i), s) && s.architecture == arch &&
                s.name == name && s.token == token && s.version[0] == id.version[0] && s.version[1] == id.version[1] &&
                revision(s) >= asked && (anyLanguage(language) || s.language == language))
                parsed.push_back(std::move(s));
        }
        std::vector<const StoreName*> candidates;
        for (const StoreName& s : parsed) candidates.push_back(&s);
        if (candidates.empty()) continue;
        // Real manifests before Wine's stand-ins, then the highest
        // build.revision, then the neutral language; the name decides ties.
        std::sort(candidates.begin(), candidates.end(), [&](const StoreName* a, const StoreName* b) {
            const auto rank = [&](const StoreName* s) {
                return std::make_tuple(!s->wine(), s->version[2], s->version[3], s->language == "none");
            };
            if (rank(a) != rank(b)) return rank(a) > rank(b);
            return a->stem < b->stem;
        });
        // An abbreviated name shared by many assemblies: a few manifests are read, no more.
        if (candidates.size() > 16) candidates.resize(16);
        for (const StoreName* s : candidates) {
            const std::string manifestPath = platform::joinPath(index_->manifests, s->stem + ".manifest");
            Manifest m;
            const bool file = readManifestFile(manifestPath, m);
            if (file && m.status == ManifestStatus::Compressed) {
                // Its name is its identity, and its folder holds its files.
                std::string folder;
                if (listings_->find(folder_, s->stem, true, folder))
                    result = fromFolder(id, *s, folder, manifestPath, versionText(s->version));
                return result;
            }
            const bool read = file && m.ok();
            // An abbreviated name may stand for another assembly: its manifest tells.
            if (abbreviated && read && !equalsIgnoringCase(m.identity.name, id.name)) continue;
            std::string folder;
            if (read && listings_->find(folder_, s->stem, true, folder)) {
                if (m.identity.name.empty()) m.identity.name = id.name;
                if (m.identity.processorArchitecture.empty()) m.identity.processorArchitecture = s->architecture;
                result = fromManifest(m, ResolvedAssembly::Where::Store, folder, manifestPath, versionText(s->version));
            }
            return result;
        }
        return result;
    }
    // A prefix of a 64-bit-only Wine holds no x86 store, and its 32-bit
    // programs still get the assemblies Wine provides, from Wine's builtin
    // folder for their machine, as its loader gives them.
    const std::string askedArch = asciiLower(id.processorArchitecture);
    if (machine == platform::kMachineI386 && !standIn32_.empty() && !index_->x86 &&
        (askedArch == "*" || askedArch == "x86"))
        result = wineStandIn32(id, name, token);
    return result;
}

AssemblyPtr SxsStore::wineStandIn32(const AssemblyIdentity& id, const std::string& name, const std::string& token) {
    const std::uint64_t key = Index::hash(indexKey("amd64", name, token, id.version[0], id.version[1]));
    std::vector<StoreName> wine;
    for (std::size_t i = 0; i < index_->hashes.size(); ++i) {
        StoreName s;
        if (index_->hashes[i] == key && parseStoreName(index_->name(i), s) && s.wine() && s.architecture == "amd64" &&
            s.name == name && s.token == token && s.version[0] == id.version[0] && s.version[1] == id.version[1])
            wine.push_back(std::move(s));
    }
    if (wine.empty()) return nullptr;
    const auto best = std::max_element(wine.begin(), wine.end(), [](const StoreName& a, const StoreName& b) {
        return std::tie(a.version[2], a.version[3], a.stem) < std::tie(b.version[2], b.version[3], b.stem);
    });
    const std::string manifestPath = platform::joinPath(index_->manifests, best->stem + ".manifest");
    Manifest m;
    if (!readManifestFile(manifestPath, m) || !m.ok()) return nullptr;
    if (m.identity.name.empty()) m.identity.name = id.name;
    m.identity.processorArchitecture = "x86";
    auto a = std::const_pointer_cast<ResolvedAssembly>(
        fromManifest(m, ResolvedAssembly::Where::Store, standIn32_, manifestPath, versionText(best->version)));
    a->wineBuiltin = true;
    return a;
}

AssemblyPtr SxsStore::findPrivate(const AssemblyIdentity& id, const std::string& appFolder) {
    if (!id.nameValid() || appFolder.empty()) return nullptr;
    const std::string cacheKey = "P|" + appFolder + '|' + identityKey(id);
    if (const auto hit = found_.find(cacheKey); hit != found_.end()) return hit->second;
    AssemblyPtr& result = found_[cacheKey];
    for (const bool inSubfolder : {false, true}) {
        std::string dir = appFolder;
        if (inSubfolder && !listings_->find(appFolder, id.name, true, dir)) continue;
        for (const bool dll : {true, false}) {
            std::string path;
            if (!listings_->find(dir, id.name + (dll ? ".dll" : ".manifest"), false, path)) continue;
            Manifest m;
            if (dll) {
                platform::FileReader file;
                std::vector<std::uint8_t> bytes;
                if (file.open(path) != platform::MapStatus::Ok ||
                    pe::embeddedManifest(platform::PeImage(file), pe::kProgramManifestId, bytes) !=
                        pe::EmbeddedManifest::Found)
                    continue;
                m = parseManifest(bytes.data(), bytes.size());
            } else if (!readManifestFile(path, m)) {
                continue;
            }
            if (!m.ok() || !equalsIgnoringCase(m.identity.name, id.name)) continue;
            // A private assembly has no publisher policy: the version asked is the one taken.
            if (id.versionValid && m.identity.versionValid && m.identity.version != id.version) continue;
            result = fromManifest(m, ResolvedAssembly::Where::Private, dir, path,
                                  m.identity.versionValid ? versionText(m.identity.version) : m.identity.versionText);
            return result;
        }
    }
    return result;
}

AssemblyPtr SxsStore::find(const AssemblyIdentity& id, std::uint16_t machine, const std::string& appFolder) {
    if (AssemblyPtr a = findInStore(id, machine)) return a;
    return findPrivate(id, appFolder);
}

ActivationContext SxsStore::context(const Manifest& manifest, std::uint16_t machine, const std::string& ownFolder,
                                    const std::string& appFolder) {
    ActivationContext ctx;
    ctx.status = manifest.status;
    if (!manifest.ok()) return ctx;
    for (const std::string& name : manifest.files) {
        Redirection r;
        r.present = listings_->find(ownFolder, name, false, r.path);
        if (!r.present) r.path = platform::joinPath(ownFolder, name);
        ctx.byName.emplace(asciiLower(name), std::move(r));
    }
    // Breadth first, each identity once: a cycle of assemblies, or a
    // manifest naming its own module, ends here.
    const bool checked = present();
    std::deque<DependentAssembly> queue(manifest.dependencies.begin(), manifest.dependencies.end());
    std::unordered_set<std::string> seen;
    while (!queue.empty() && ctx.assemblies.size() < kMaxContextAssemblies) {
        const DependentAssembly d = std::move(queue.front());
        queue.pop_front();
        if (!seen.insert(identityKey(d.identity)).second) continue;
        const AssemblyPtr a = d.identity.valid() ? find(d.identity, machine, appFolder) : nullptr;
        if (!a) {
            if (checked && d.required()) ctx.missing.push_back(d);
            continue;
        }
        if (std::find(ctx.assemblies.begin(), ctx.assemblies.end(), a) != ctx.assemblies.end()) continue;
        ctx.assemblies.push_back(a);
        for (const AssemblyFile& f : a->files) ctx.byName.emplace(asciiLower(f.name), Redirection{f.path, f.present, a});
        for (const DependentAssembly& next : a->dependencies)
            if (queue.size() + seen.size() < kMaxManifestEntries) queue.push_back(next);
    }
    return ctx;
}

std::shared_ptr<const ActivationContext> SxsStore::moduleContext(const std::string& path, bool isDll,
                                                                 std::uint16_t machine, const std::string& appFolder,
                                                                 const pe::ModuleResource* resource) {
    const std::string key = (isDll ? "D|" : "P|") + std::to_string(machine) + '|' + appFolder + '|' + path;
    if (const auto hit = contexts_.find(key); hit != contexts_.end()) return hit->second;
    std::shared_ptr<const ActivationContext>& result = contexts_[key];
    const ModuleManifest mm = manifestOf(path, isDll, [this](const std::string& dir, const std::string& name, std::string& out) {
        return listings_->find(dir, name, false, out);
    }, resource);
    if (mm.source == ModuleManifest::Source::None) return result;
    auto ctx = std::make_shared<ActivationContext>(context(mm.manifest, machine, platform::directoryPart(path), appFolder));
    ctx->source = mm.source;
    ctx->manifestPath = mm.path;
    result = std::move(ctx);
    return result;
}

}  // namespace sxs
