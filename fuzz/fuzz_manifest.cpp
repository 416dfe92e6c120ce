// The manifest reader on arbitrary bytes: as a manifest file, and as a PE
// image whose RT_MANIFEST resources are read and parsed. What it gives back
// must stay within the reader's bounds.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inspect/loader/manifest.h"
#include "platform/bytes.h"
#include "platform/peimage.h"

namespace {

void check(const sxs::Manifest& m) {
    if (m.files.size() > sxs::kMaxManifestEntries || m.dependencies.size() > sxs::kMaxManifestEntries) std::abort();
    if (!m.ok() && (!m.files.empty() || !m.dependencies.empty())) std::abort();
    for (const sxs::DependentAssembly& d : m.dependencies)
        if (d.identity.name.empty()) std::abort();
    for (const std::string& f : m.files)
        if (f.empty() || f == ".." || f.find_first_of("/\\") != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(sxs::parseManifest(data, size));
    const platform::MemoryByteSource source(data, size);
    const platform::PeImage image(source);
    std::vector<std::uint8_t> bytes;
    for (const std::uint32_t id : {pe::kProgramManifestId, pe::kDllManifestId}) {
        if (pe::embeddedManifest(image, id, bytes) != pe::EmbeddedManifest::Found) continue;
        if (bytes.empty() || bytes.size() > pe::kMaxManifestSize || bytes.size() > size) std::abort();
        check(sxs::parseManifest(bytes.data(), bytes.size()));
    }
    return 0;
}
