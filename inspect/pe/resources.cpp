#include "inspect/pe/resources.h"


namespace pe {

namespace {
constexpr std::uint32_t kRtManifest = 24;
}

EmbeddedManifest embeddedManifest(const platform::PeImage& image, std::uint32_t id, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!image.complete()) return EmbeddedManifest::None;
    std::uint64_t offset = 0, length = 0;
    if (!image.findResource(kRtManifest, id, 0, offset, length)) return EmbeddedManifest::None;
    if (length > kMaxManifestSize) return EmbeddedManifest::TooLarge;
    out.resize(static_cast<std::size_t>(length));
    if (!image.bytes().read(offset, out.data(), out.size())) {
        out.clear();
        return EmbeddedManifest::None;
    }
    return EmbeddedManifest::Found;
}

ModuleResource moduleResource(const platform::PeImage& image) {
    ModuleResource r;
    r.state = embeddedManifest(image, image.isDll() ? kDllManifestId : kProgramManifestId, r.bytes);
    return r;
}

}  // namespace pe
