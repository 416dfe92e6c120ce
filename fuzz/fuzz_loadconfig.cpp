// The load configuration, the ARM64X view, the hardening flags and the
// mapping check on arbitrary bytes, with the view's fixups applied to the
// input's own bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inspect/pe/arm64x.h"
#include "inspect/pe/hardening.h"
#include "inspect/pe/loadconfig.h"
#include "inspect/pe/mapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::MemoryByteSource source(data, size);
    platform::PeImage image(source);
    const pe::Mapping mapping = pe::checkMapping(image);
    if ((mapping.outcome == pe::Mapping::Outcome::Mappable) != (mapping.problem == pe::Mapping::Problem::None))
        std::abort();
    const pe::LoadConfig config = pe::readLoadConfig(image);
    if (config.outcome == pe::LoadConfig::Outcome::Read && config.covered > config.size) std::abort();
    const pe::Hardening hardening = pe::readHardening(image, config);
    if (!hardening.read && !hardening.missing.empty()) std::abort();
    const pe::CodeView view = pe::readCodeView(image, config);
    if (view.fixups.size() > pe::kMaxArm64xFixups || (view.kind != pe::CodeView::Kind::Arm64x && !view.fixups.empty()))
        std::abort();
    // The EC view of the first bytes, as a reader of other tables would ask.
    std::vector<std::uint8_t> copy(data, data + std::min<std::size_t>(size, 4096));
    view.patch(0, copy.data(), copy.size());
    return 0;
}
