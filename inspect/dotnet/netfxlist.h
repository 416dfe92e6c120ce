// The assemblies that are part of .NET Framework 4.8, as data
// (netfxlist.inc, written by scripts/gen-netfx-list.py from Mono's 4.8
// reference assemblies and Microsoft's Client Profile list, both Debian
// packages). A reference signed with a Microsoft key is the framework's
// only when it is one of these: System.Memory, System.Buffers or
// Microsoft.CodeAnalysis come from NuGet and sit beside the program.
#pragma once

#include <cstddef>
#include <string_view>

namespace dotnet {

struct NetFxAssembly {
    const char* name;
    const char* version;         // the reference assembly's version: "4.0.0.0"
    const char* publicKeyToken;  // 16 lower-case hex digits
};

// The whole list, sorted by name ignoring case.
const NetFxAssembly* netFxAssemblies(std::size_t& count);
// The framework's assembly of that name (ignoring case), or null.
const NetFxAssembly* findNetFxAssembly(std::string_view name);
// A reference the framework itself answers: its name is the framework's
// and its token that assembly's (ignoring case).
bool isNetFxAssembly(std::string_view name, std::string_view publicKeyToken);

}  // namespace dotnet
