#include "inspect/releasechecks.h"

#include <unordered_set>

#include "inspect/lines.h"
#include "platform/peimage.h"
#include "platform/platform.h"

namespace release {

const FileCheck& FileChecks::of(const std::string& path) {
    const std::string key = platform::listPath(path);
    if (const auto it = files_.find(key); it != files_.end()) return *it->second;
    auto check = std::make_unique<FileCheck>();
    platform::FileReader file;
    if (file.open(path) == platform::MapStatus::Ok) {
        const platform::PeImage image(file);
        const std::string name = platform::fileNamePart(path);
        if (signatures_) check->signature = signing::readSignature(image, name);
        if (hardening_) check->hardening = mitigations::readFileHardening(image, name);
    }
    return *files_.emplace(key, std::move(check)).first->second;
}

std::vector<std::string> shippedFiles(const std::vector<Closure>& closures, const shipping::ShipSet& set) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    const auto add = [&](const std::string& path) {
        if (seen.insert(platform::listPath(path)).second) out.push_back(path);
    };
    for (const Closure& c : closures) add(c.listed);
    for (const shipping::ShipDll& d : set.dlls) add(d.path());
    return out;
}

std::vector<std::string> signatureLines(const std::vector<std::string>& files, FileChecks& checks) {
    std::vector<std::string> out;
    std::vector<signing::Status> all;
    for (const std::string& path : files) {
        const signing::FileSignature& s = checks.of(path).signature;
        if (s.status == signing::Status::NotPe) continue;
        out.push_back(lines::signature(path, s));
        all.push_back(s.status);
    }
    out.push_back(lines::signatureCount(all));
    return out;
}

std::vector<std::string> unsignedLines(const std::vector<std::string>& files, FileChecks& checks,
                                       const analysis::IgnoreList& ignore) {
    std::vector<std::string> out;
    for (const std::string& path : files) {
        if (ignore.matches(path)) continue;
        const signing::FileSignature& s = checks.of(path).signature;
        if (std::string line = lines::notSigned(path, s.status); !line.empty()) out.push_back(std::move(line));
    }
    return out;
}

std::vector<std::string> hardeningLines(const std::vector<std::string>& files, FileChecks& checks,
                                        const std::vector<Closure>& closures) {
    std::vector<std::string> out;
    std::unordered_set<std::string> told;  // runtimes named, lower-cased
    for (const std::string& path : files) {
        const mitigations::FileHardening& h = checks.of(path).hardening;
        if (!h.flags.missing.empty()) out.push_back(lines::hardeningMissing(path, h.flags.missing));
        if (h.unsupportedRuntime) {
            out.push_back(lines::unsupportedRuntime(path, h.unsupportedRuntime, {}));
            told.insert(platform::toLower(platform::fileNamePart(path)));
        }
    }
    for (const Closure& c : closures)
        for (std::size_t node = 0; node < c.imports.size(); ++node)
            for (const ImportEdge& e : c.imports[node]) {
                const std::string name = e.to == kNoNode ? e.name() : platform::fileNamePart(c.nodePath(e.to));
                const char* package = mitigations::unsupportedRuntime(name);
                if (package && told.insert(platform::toLower(name)).second)
                    out.push_back(lines::unsupportedRuntime(name, package, c.nodePath(node)));
            }
    return out;
}

}  // namespace release
