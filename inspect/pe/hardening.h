// The exploit mitigations an image asks the loader for, from its
// DllCharacteristics and its load configuration: ASLR, high-entropy ASLR,
// DEP, Control Flow Guard, and for x86 images SafeSEH (or no SEH at all).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/pe/loadconfig.h"
#include "platform/peimage.h"

namespace pe {

constexpr std::uint16_t kHighEntropyVa = 0x0020, kDynamicBase = 0x0040, kNxCompat = 0x0100, kNoSeh = 0x0400,
                        kGuardCf = 0x4000;

struct Hardening {
    enum class State { Off, On, NotApplicable };

    bool read = false;  // false: no PE optional header, every state Off
    std::uint16_t dllCharacteristics = 0;

    // DYNAMIC_BASE, and relocations the loader can use (not stripped).
    State aslr = State::Off;
    // HIGH_ENTROPY_VA with ASLR; PE32+ only.
    State highEntropyVa = State::Off;
    // NX_COMPAT; always on for PE32+ images, whose processes run with DEP
    // whatever the flag says.
    State dep = State::Off;
    // GUARD_CF, and a guard function table with the instrumented flag.
    State cfg = State::Off;
    // x86 only: NO_SEH, or a SafeSEH handler table with its count.
    State safeSeh = State::NotApplicable;

    // The names of those Off, in the order above: "ASLR", "HIGH_ENTROPY_VA",
    // "DEP", "CFG", "SafeSEH".
    std::vector<std::string> missing;
};

// `image` has had readHeaders(); `config` is its readLoadConfig().
Hardening readHardening(const platform::PeImage& image, const LoadConfig& config);

}  // namespace pe
