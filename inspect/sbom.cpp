#include "inspect/sbom.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "inspect/debian.h"
#include "inspect/dotnet/runtimeconfig.h"
#include "inspect/pe/clr.h"
#include "inspect/redist.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/versioninfo.h"

namespace sbom {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kHashChunk = 64 * 1024;

std::string hex(const unsigned char* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out.append(1, digits[bytes[i] >> 4]).append(1, digits[bytes[i] & 15]);
    return out;
}

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// As the rows name machines.
std::string machineKey(std::uint16_t machine) {
    switch (machine) {
        case 0: return {};
        case platform::kMachineI386: return "x86";
        case platform::kMachineAmd64: return "x64";
        case platform::kMachineArm64: return "arm64";
        case 0x01C0:
        case 0x01C2:
        case 0x01C4: return "arm";
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(machine));
    return buf;
}

std::string trimmed(std::string s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.back())) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && space(s[start])) ++start;
    return platform::validUtf8(s.substr(start));
}

std::string who(const pe::NameFields& n) {
    if (n.organization.empty()) return n.commonName;
    if (n.commonName.empty() || n.commonName == n.organization) return n.organization;
    return n.organization + " (" + n.commonName + ")";
}

Json property(const std::string& name, const std::string& value) {
    return Json{{"name", kPropertyPrefix + name}, {"value", platform::validUtf8(value)}};
}

// A component the programs need that no file of the release carries.
struct Required {
    std::string ref, name, version;
    const char* kind;               // "redistributable", "framework"
    std::vector<std::string> dlls;  // a redistributable's DLLs the closures name
};

class Builder {
public:
    Builder(const std::vector<Closure>& closures, const shipping::ShipSet& set, Reads& reads, const Options& options)
        : closures_(closures), set_(set), reads_(reads), options_(options) {}

private:
    struct File {
        std::string path, ref;
        bool listed = false;
        const shipping::ShipDll* dll = nullptr;
        std::string sha256;
        Json properties = Json::array();  // delay-load marks added with the edges
    };

    std::int64_t time() const {
        if (options_.time) return *options_.time;
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

    void collectFiles() {
        const auto add = [&](const std::string& path, bool listed, const shipping::ShipDll* dll) {
            const std::string key = platform::listPath(path);
            if (index_.count(key)) return;
            if (listed && reads_.image(path)->outcome == pe::ImageRead::Outcome::NotOpenable) return;
            index_.emplace(key, files_.size());
            File f;
            f.path = path;
            f.ref = platform::validUtf8(path);
            f.listed = listed;
            f.dll = dll;
            files_.push_back(std::move(f));
        };
        for (const Closure& c : closures_) add(c.listed, true, nullptr);
        for (const shipping::ShipDll& d : set_.dlls) add(d.path(), false, &d);
    }

    const File* fileAt(const std::string& path) const {
        const auto it = index_.find(platform::listPath(path));
        return it == index_.end() ? nullptr : &files_[it->second];
    }

    Json fileComponent(File& f, const std::string& purl) {
        const std::string& path = f.path;
        const std::string fileName = platform::fileNamePart(path);
        std::string product, description, company;
        const std::vector<std::uint8_t> block = platform::fileVersionBlock(path);
        platform::versionString(block, "ProductName", product);
        platform::versionString(block, "FileDescription", description);
        platform::versionString(block, "CompanyName", company);
        product = trimmed(product);
        description = trimmed(description);
        company = trimmed(company);
        const std::string name = !product.empty() ? product : !description.empty() ? description : fileName;

        const auto image = reads_.image(path);
        Json c;
        c["type"] = image->isDll ? "library" : "application";
        c["bom-ref"] = f.ref;
        if (!company.empty()) c["supplier"] = {{"name", company}};
        c["name"] = platform::validUtf8(name);
        std::string version = reads_.fixedVersion(path);
        if (version.empty() && reads_.hasVersion(path)) version = trimmed(reads_.version(path));
        if (!version.empty()) c["version"] = version;
        if (!description.empty() && description != name) c["description"] = description;
        f.sha256 = sha256File(path);
        if (!f.sha256.empty()) c["hashes"] = Json::array({{{"alg", "SHA-256"}, {"content", f.sha256}}});
        if (!purl.empty()) c["purl"] = purl;

        Json& p = f.properties;
        p.push_back(property("file", fileName));
        if (const std::string m = machineKey(image->machine); !m.empty()) p.push_back(property("machine", m));
        if (f.listed) p.push_back(property("listed", "true"));
        else if (const char* origin = loader::originName(f.dll->location->origin); *origin)
            p.push_back(property("origin", origin));
        p.push_back(property("folder", platform::directoryPart(path)));
        if (options_.checks && (options_.signatures || options_.hardening)) checkProperties(path, p);
        if (f.listed) frameworksOf(path);
        return c;
    }

    void checkProperties(const std::string& path, Json& p) {
        release::FileChecks& checks = *options_.checks;
        const release::FileCheck& check = checks.of(path);
        if (options_.signatures && checks.signatures()) {
            const signing::FileSignature& s = check.signature;
            p.push_back(property("signature", signing::statusKey(s.status)));
            if (!s.signers.empty()) {
                p.push_back(property("signer", who(s.signers.front().subject)));
                if (const char* d = pe::digestName(s.signers.front().digest); *d) p.push_back(property("signature-digest", d));
            }
        }
        if (options_.hardening && checks.hardening()) {
            const mitigations::FileHardening& h = check.hardening;
            std::string missing;
            for (const std::string& m : h.flags.missing) missing += (missing.empty() ? "" : " ") + m;
            if (h.flags.read) p.push_back(property("hardening-missing", missing));
            if (h.unsupportedRuntime) p.push_back(property("unsupported-runtime", h.unsupportedRuntime));
        }
    }

    Required& require(const std::string& ref, const std::string& name, const std::string& version, const char* kind) {
        for (Required& r : required_)
            if (r.ref == ref) return r;
        required_.push_back({ref, name, version, kind, {}});
        return required_.back();
    }

    // The shared frameworks a listed .NET program runs on: its runtime
    // config's, or for a managed EXE without one the .NET Framework of its
    // runtime version.
    void frameworksOf(const std::string& path) {
        std::string stem = platform::fileNamePart(path);
        if (const auto dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.erase(dot);
        const dotnet::RuntimeConfig config =
            dotnet::readRuntimeConfig(platform::joinPath(platform::directoryPart(path), stem + ".runtimeconfig.json"));
        std::vector<std::string>& deps = frameworks_[platform::listPath(path)];
        if (config.outcome == dotnet::RuntimeConfig::Outcome::Read) {
            for (const dotnet::FrameworkReference& f : config.frameworks) {
                const Required& r = require("framework:" + f.name + "@" + f.version, f.name, f.version, "framework");
                deps.push_back(r.ref);
            }
            return;
        }
        if (reads_.image(path)->isDll) return;
        const pe::ManagedImage managed = pe::readManagedImage(path);
        if (managed.state == pe::ManagedImage::State::NotManaged || managed.runtimeVersion.size() < 2 ||
            managed.runtimeVersion[0] != 'v')
            return;
        const std::string version = trimmed(managed.runtimeVersion.substr(1));
        deps.push_back(require("framework:.NET Framework@" + version, ".NET Framework", version, "framework").ref);
    }

    Json requiredComponent(const Required& r) const {
        Json c;
        c["type"] = "framework";
        c["bom-ref"] = r.ref;
        c["supplier"] = {{"name", "Microsoft Corporation"}};
        c["name"] = r.name;
        if (!r.version.empty()) c["version"] = platform::validUtf8(r.version);
        c["scope"] = "required";
        Json p = Json::array({property("kind", r.kind), property("carried", "false")});
        for (const std::string& dll : r.dlls) p.push_back(property("dll", dll));
        c["properties"] = std::move(p);
        return c;
    }

    // Each file's imports leading to another component of the BOM: a file
    // of the release, or the redistributable that installs a DLL the
    // release does not carry.
    void collectEdges() {
        for (const Closure& c : closures_)
            for (std::size_t node = 0; node < c.imports.size(); ++node) {
                const File* from = fileAt(c.nodePath(node));
                if (!from || edgesDone_.count(from->ref)) continue;
                std::vector<std::pair<std::string, bool>>& out = edges_[from->ref];
                for (const ImportEdge& e : c.imports[node]) {
                    std::string to;
                    if (const File* target = e.to == kNoNode ? nullptr : fileAt(c.nodePath(e.to))) {
                        to = target->ref;
                    } else {
                        const std::string name = e.to == kNoNode ? e.name() : platform::fileNamePart(c.nodePath(e.to));
                        const char* package = shipping::redistributableOf(name);
                        if (!package) continue;
                        Required& r = require(std::string("redistributable:") + package, package, {}, "redistributable");
                        bool known = false;
                        for (const std::string& d : r.dlls) known = known || platform::toLower(d) == platform::toLower(name);
                        if (!known) r.dlls.push_back(platform::validUtf8(name));
                        to = r.ref;
                    }
                    // Delay-loaded only when every entry leading there is.
                    bool found = false;
                    for (auto& [ref, delayed] : out)
                        if (ref == to) {
                            delayed = delayed && e.delayed();
                            found = true;
                        }
                    if (!found) out.emplace_back(to, e.delayed());
                }
                edgesDone_.emplace(from->ref, true);
            }
    }

    Json dependencies() {
        Json all = Json::array();
        const auto entry = [&](const std::string& ref, const std::vector<std::string>& on) {
            all.push_back({{"ref", ref}, {"dependsOn", on}});
        };
        for (File& f : files_) {
            std::vector<std::string> on;
            for (const auto& [to, delayed] : edges_[f.ref]) {
                on.push_back(to);
                if (delayed) f.properties.push_back(property("delay-load", to));
            }
            for (const std::string& fw : frameworks_[platform::listPath(f.path)])
                if (std::find(on.begin(), on.end(), fw) == on.end()) on.push_back(fw);
            entry(f.ref, on);
        }
        for (const Required& r : required_) entry(r.ref, {});
        return all;
    }

    // RFC 4122: random (version 4), or with a given time name-based
    // (version 5, SHA-1 of the time and the files' hashes).
    std::string serialNumber() const {
        unsigned char u[20] = {};
        bool made = false;
        if (options_.time) {
            std::string name = "tavelin sbom " + std::to_string(*options_.time);
            for (const File& f : files_) name += "\n" + f.ref + " " + f.sha256;
            unsigned int n = 0;
            made = EVP_Digest(name.data(), name.size(), u, &n, EVP_sha1(), nullptr) == 1;
            if (made) u[6] = static_cast<unsigned char>((u[6] & 0x0F) | 0x50);
        }
        if (!made) {
            if (RAND_bytes(u, 16) != 1) return "urn:uuid:00000000-0000-4000-8000-000000000000";
            u[6] = static_cast<unsigned char>((u[6] & 0x0F) | 0x40);
        }
        u[8] = static_cast<unsigned char>((u[8] & 0x3F) | 0x80);
        const std::string h = hex(u, 16);
        return "urn:uuid:" + h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" +
               h.substr(20);
    }

    // The properties are complete once the edges are known.
    void finishProperties(Json& components) {
        for (std::size_t i = 0; i < files_.size(); ++i) components[i]["properties"] = files_[i].properties;
    }

public:
    std::string run() {
        collectFiles();
        std::vector<std::string> paths;
        for (const File& f : files_) paths.push_back(f.path);
        const auto purls = debian::packageUrls(paths);
        Json components = Json::array();
        for (File& f : files_) {
            const auto purl = purls.find(f.path);
            components.push_back(fileComponent(f, purl == purls.end() ? std::string() : purl->second));
        }
        collectEdges();
        Json deps = dependencies();
        finishProperties(components);
        for (const Required& r : required_) components.push_back(requiredComponent(r));

        Json bom;
        bom["$schema"] = "http://cyclonedx.org/schema/bom-1.6.schema.json";
        bom["bomFormat"] = "CycloneDX";
        bom["specVersion"] = "1.6";
        bom["serialNumber"] = serialNumber();
        bom["version"] = 1;
        Json tool = {{"type", "application"}, {"name", "tavelin-report"}};
        if (!options_.toolVersion.empty()) tool["version"] = options_.toolVersion;
        bom["metadata"] = {{"timestamp", utcText(time())}, {"tools", {{"components", Json::array({tool})}}}};
        bom["components"] = std::move(components);
        bom["dependencies"] = std::move(deps);
        return bom.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    }

private:
    const std::vector<Closure>& closures_;
    const shipping::ShipSet& set_;
    Reads& reads_;
    const Options& options_;
    std::vector<File> files_;
    std::unordered_map<std::string, std::size_t> index_;  // by listPath
    std::vector<Required> required_;
    std::unordered_map<std::string, std::vector<std::pair<std::string, bool>>> edges_;  // by ref: (to, delayed)
    std::unordered_map<std::string, bool> edgesDone_;
    std::unordered_map<std::string, std::vector<std::string>> frameworks_;  // by listPath: refs
};

}  // namespace

std::string cyclonedx(const std::vector<Closure>& closures, const shipping::ShipSet& set, Reads& reads,
                      const Options& options) {
    return Builder(closures, set, reads, options).run();
}

std::string sha256File(const std::string& path) {
    platform::FileReader file;
    if (file.open(path) != platform::MapStatus::Ok) return {};
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
    std::vector<unsigned char> chunk(kHashChunk);
    for (std::uint64_t at = 0; at < file.size();) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), file.size() - at));
        if (!file.read(at, chunk.data(), n) || EVP_DigestUpdate(ctx.get(), chunk.data(), n) != 1) return {};
        at += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
    return hex(digest, length);
}

std::string utcText(std::int64_t t) {
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm),
    // without the C library's time zone state.
    std::int64_t days = t / 86400, rest = t % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buf;
}

}  // namespace sbom
