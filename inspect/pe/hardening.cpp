#include "inspect/pe/hardening.h"

#include <new>
#include <utility>

#include "inspect/pe/imageview.h"

namespace pe {

namespace {

constexpr std::uint16_t kRelocsStripped = 0x0001;

Hardening::State state(bool on) { return on ? Hardening::State::On : Hardening::State::Off; }

void assess(const platform::PeImage& image, const LoadConfig& config, Hardening& out) {
    const HeaderFields h = headerFields(image);
    if (!h.valid) return;
    out.read = true;
    const std::uint16_t dc = out.dllCharacteristics = h.dllCharacteristics;
    const bool plus = image.plus();
    // A stripped image cannot be moved: the loader keeps it at its base.
    out.aslr = state((dc & kDynamicBase) && !(h.characteristics & kRelocsStripped));
    out.highEntropyVa =
        plus ? state(out.aslr == Hardening::State::On && (dc & kHighEntropyVa)) : Hardening::State::NotApplicable;
    out.dep = state(plus || (dc & kNxCompat));
    // The flag alone is what a linker sets for any /guard:cf object; the
    // loader checks calls only through the image's own table.
    const bool table = config.guardCfFunctionTable.value_or(0) != 0 && config.guardCfFunctionCount.value_or(0) != 0;
    out.cfg = state((dc & kGuardCf) && table && (config.guardFlags.value_or(0) & kGuardCfInstrumented));
    if (image.machine() == kMachineI386)
        out.safeSeh = state((dc & kNoSeh) || (config.seHandlerTable.value_or(0) != 0 && config.seHandlerCount));
}

}  // namespace

Hardening readHardening(const platform::PeImage& image, const LoadConfig& config) {
    Hardening out;
    try {
        assess(image, config, out);
        const std::pair<Hardening::State, const char*> all[] = {{out.aslr, "ASLR"},
                                                                {out.highEntropyVa, "HIGH_ENTROPY_VA"},
                                                                {out.dep, "DEP"},
                                                                {out.cfg, "CFG"},
                                                                {out.safeSeh, "SafeSEH"}};
        for (const auto& [s, name] : all)
            if (out.read && s == Hardening::State::Off) out.missing.emplace_back(name);
    } catch (const std::bad_alloc&) {
        out.missing.clear();
    }
    return out;
}

}  // namespace pe
