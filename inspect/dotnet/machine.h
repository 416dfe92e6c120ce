// The machine a managed image runs as, which its PE header alone does not
// tell: an IL-only PE32 image is "Any CPU" unless its CLI header requires
// 32 bits. Windows (and Wine's loader: server/mapping.c marks such an image
// "native ready", ntdll's loader.c converts it to PE32+ when a 64-bit
// process maps it) runs an Any CPU program as the machine's own.
//   CLI flags: ILONLY 0x1, 32BITREQUIRED 0x2, 32BITPREFERRED 0x20000.
//   - PE32, IL only, neither flag: Any CPU, the machine's own architecture;
//   - PE32, IL only, 32BITREQUIRED: x86 (WOW64 on 64-bit Windows);
//   - PE32, IL only, 32BITREQUIRED | 32BITPREFERRED: Any CPU preferring 32
//     bits: x86 wherever Windows runs x86 programs;
//   - PE32+ IL only, or not IL only (C++/CLI, mixed mode): its own machine;
//   - a .NET 5+ app: the machine of its apphost (a native program); its
//     own .dll is loaded by that process.
// A DLL runs in whatever process loads it: an Any CPU one in any process, a
// 32-bit-required one only in x86 processes.
#pragma once

#include <cstdint>

namespace dotnet {

constexpr std::uint32_t kCliIlOnly = 0x1;
constexpr std::uint32_t kCli32BitRequired = 0x2;
constexpr std::uint32_t kCli32BitPreferred = 0x20000;

struct ManagedMachine {
    enum class Kind {
        Native,         // runs as its PE machine (PE32+, mixed mode, or no CLI header)
        AnyCpu,         // IL-only PE32 that can run 64-bit
        Prefer32Bit,    // Any CPU, 32 bits preferred
        Requires32Bit,  // IL-only PE32 that must run as x86
    };
    Kind kind = Kind::Native;
    std::uint16_t machine = 0;  // what a program runs as on this Windows
};

// `peMachine` and `pe32plus` from the PE headers, `cliFlags` from the CLI
// header (`managed` false when there is none), `windowsMachine` the
// machine of Windows itself (x64 when 0).
ManagedMachine managedMachine(std::uint16_t peMachine, bool pe32plus, bool managed, std::uint32_t cliFlags,
                              std::uint16_t windowsMachine = 0);

// Whether a process of `processMachine` can load a DLL with these headers.
bool loadableInto(std::uint16_t processMachine, std::uint16_t peMachine, bool pe32plus, bool managed,
                  std::uint32_t cliFlags);

}  // namespace dotnet
