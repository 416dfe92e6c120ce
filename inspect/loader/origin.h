// Why the loader takes a DLL from where it was found.
#pragma once

namespace loader {

enum class Origin {
    None,
    Sxs,        // a side-by-side assembly's folder
    Known,      // a KnownDLL, always from the system folder
    App,        // the program's folder
    User,       // a folder of the user's (or of PATH on Windows)
    System,     // the system folders (of the Windows folder, or Wine's)
    Toolchain,  // the MinGW-w64 runtime folders Linux adds
    Gac,        // a .NET assembly of the Windows folder's global assembly cache
    Module,     // the importing module's own folder (DependentLoadFlags 0x100)
};

// "sxs", "known", "app", "user", "system", "toolchain", "gac"; "" for None.
const char* originName(Origin origin);

}  // namespace loader
