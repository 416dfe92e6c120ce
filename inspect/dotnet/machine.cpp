#include "inspect/dotnet/machine.h"

#include "platform/platform.h"

namespace dotnet {

ManagedMachine managedMachine(std::uint16_t peMachine, bool pe32plus, bool managed, std::uint32_t cliFlags,
                              std::uint16_t windowsMachine) {
    if (windowsMachine == 0) windowsMachine = platform::kMachineAmd64;
    ManagedMachine out;
    out.machine = peMachine;
    if (!managed || pe32plus || !(cliFlags & kCliIlOnly)) return out;
    // 32-bit Windows runs every PE32 program as itself.
    const bool windows64 = windowsMachine != platform::kMachineI386;
    if (cliFlags & kCli32BitRequired) {
        out.kind = (cliFlags & kCli32BitPreferred) ? ManagedMachine::Kind::Prefer32Bit
                                                   : ManagedMachine::Kind::Requires32Bit;
        return out;
    }
    out.kind = ManagedMachine::Kind::AnyCpu;
    if (windows64) out.machine = windowsMachine;
    return out;
}

bool loadableInto(std::uint16_t processMachine, std::uint16_t peMachine, bool pe32plus, bool managed,
                  std::uint32_t cliFlags) {
    const ManagedMachine m = managedMachine(peMachine, pe32plus, managed, cliFlags, processMachine);
    if (m.kind == ManagedMachine::Kind::AnyCpu) return true;
    return m.machine == processMachine;
}

}  // namespace dotnet
