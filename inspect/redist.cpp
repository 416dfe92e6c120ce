#include "inspect/redist.h"

#include <cstring>
#include <iterator>

#include "inspect/wildcard.h"
#include "platform/platform.h"

namespace shipping {

namespace {

// The runtime DLLs of Microsoft's redistributable packages, from the file
// lists of the Visual C++ redistributables (.NET 2002 to 2015-2022, with
// their MFC, ATL, OpenMP and C++/CX parts) and of the DirectX End-User
// Runtime (June 2010). Left out on purpose, because Windows ships them
// itself: msvcrt.dll, msvcp60.dll, msvcirt.dll, mfc42*.dll, atl.dll,
// d3dcompiler_47.dll, xinput1_4.dll, xinput9_1_0.dll, xaudio2_8.dll and
// xaudio2_9.dll. Patterns as --ignore takes them, ignoring case.
struct Package {
    const char* pattern;
    const char* name;
};
constexpr Package kPackages[] = {
    {"msvc[pr]70.dll", "Visual C++ .NET 2002"},
    {"mfc70*.dll", "Visual C++ .NET 2002"},
    {"atl70.dll", "Visual C++ .NET 2002"},
    {"msvc[pr]71.dll", "Visual C++ .NET 2003"},
    {"mfc71*.dll", "Visual C++ .NET 2003"},
    {"atl71.dll", "Visual C++ .NET 2003"},
    {"msvc[pr]80.dll", "Visual C++ 2005"},
    {"mfc80*.dll", "Visual C++ 2005"},
    {"mfcm80*.dll", "Visual C++ 2005"},
    {"atl80.dll", "Visual C++ 2005"},
    {"vcomp.dll", "Visual C++ 2005"},
    {"msvc[pr]90.dll", "Visual C++ 2008"},
    {"mfc90*.dll", "Visual C++ 2008"},
    {"mfcm90*.dll", "Visual C++ 2008"},
    {"atl90.dll", "Visual C++ 2008"},
    {"vcomp90.dll", "Visual C++ 2008"},
    {"msvc[pr]100.dll", "Visual C++ 2010"},
    {"mfc100*.dll", "Visual C++ 2010"},
    {"mfcm100*.dll", "Visual C++ 2010"},
    {"atl100.dll", "Visual C++ 2010"},
    {"vcomp100.dll", "Visual C++ 2010"},
    {"msvc[pr]110.dll", "Visual C++ 2012"},
    {"mfc110*.dll", "Visual C++ 2012"},
    {"mfcm110*.dll", "Visual C++ 2012"},
    {"atl110.dll", "Visual C++ 2012"},
    {"vcomp110.dll", "Visual C++ 2012"},
    {"msvc[pr]120.dll", "Visual C++ 2013"},
    {"mfc120*.dll", "Visual C++ 2013"},
    {"mfcm120*.dll", "Visual C++ 2013"},
    {"vcomp120.dll", "Visual C++ 2013"},
    {"msvcp140*.dll", "Visual C++ 2015-2022"},
    {"vcruntime140*.dll", "Visual C++ 2015-2022"},
    {"concrt140.dll", "Visual C++ 2015-2022"},
    {"vccorlib140.dll", "Visual C++ 2015-2022"},
    {"mfc140*.dll", "Visual C++ 2015-2022"},
    {"mfcm140*.dll", "Visual C++ 2015-2022"},
    {"vcomp140.dll", "Visual C++ 2015-2022"},
    {"d3dx9_*.dll", "DirectX End-User Runtime"},
    {"d3dx10_*.dll", "DirectX End-User Runtime"},
    {"d3dx11_*.dll", "DirectX End-User Runtime"},
    {"d3dcompiler_4[0-6].dll", "DirectX End-User Runtime"},
    {"xinput1_[1-3].dll", "DirectX End-User Runtime"},
    {"xaudio2_[0-7].dll", "DirectX End-User Runtime"},
    {"x3daudio*.dll", "DirectX End-User Runtime"},
    {"xapofx*.dll", "DirectX End-User Runtime"},
};

// The debug builds of the Visual C++ runtimes: their names end in "d"
// (msvcp140d_atomic_wait.dll and its kind before their suffix).
constexpr const char* kDebugRuntimes[] = {
    "msvcr*d.dll", "msvcp*d.dll", "msvcp*d_*.dll", "vcruntime*d.dll", "ucrtbased.dll",
    "concrt*d.dll", "vccorlib*d.dll", "mfc*d.dll",  "vcomp*d.dll",
};

// What winebuild writes after the DOS header of every DLL it makes, and what
// a prefix's placeholder files carry in the same place.
constexpr std::uint64_t kWineMarkAt = 0x40;
constexpr const char* kWineMarks[] = {"Wine builtin DLL", "Wine placeholder DLL"};

}  // namespace

const char* redistributableOf(std::string_view name) {
    if (isDebugRuntime(name)) return nullptr;
    for (const Package& p : kPackages)
        if (analysis::wildcardMatch(p.pattern, name)) return p.name;
    return nullptr;
}

bool isDebugRuntime(std::string_view name) {
    for (const char* pattern : kDebugRuntimes)
        if (analysis::wildcardMatch(pattern, name)) return true;
    return false;
}

bool isWineStandIn(const std::string& path) {
    platform::FileReader file;
    if (file.open(path) != platform::MapStatus::Ok) return false;
    char mark[24] = {};
    if (!file.read(kWineMarkAt, mark, sizeof mark - 1)) return false;
    for (const char* m : kWineMarks)
        if (std::strncmp(mark, m, std::strlen(m)) == 0) return true;
    return false;
}

}  // namespace shipping
