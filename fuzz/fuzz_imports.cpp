// The import walk on arbitrary bytes. The input is written twice into a
// private folder, as the listed file and as "a.dll", so an input importing
// a.dll also exercises the recursive walk and its cycle handling, and the
// function check runs against the input's own export table.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inspect/uimports.h"
#include "platform/platform.h"

namespace {

std::string g_dir;

void writeAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Memory-backed when the system offers it: every input is written twice.
    const char* base = std::getenv("TMPDIR");
    if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/tavelin-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    g_dir = tmpl;
    std::atexit([] {
        std::remove((g_dir + "/fuzz.exe").c_str());
        std::remove((g_dir + "/a.dll").c_str());
        rmdir(g_dir.c_str());
    });
    platform::setDllSearchFolders({});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string exe = g_dir + "/fuzz.exe";
    writeAll(exe, data, size);
    writeAll(g_dir + "/a.dll", data, size);
    // Twice: the plain walk (recursive or not, by the first byte), then with
    // the closure, the function check and the delay-load table all on.
    for (int pass = 0; pass < 2; ++pass) {
        PEFile::Recursive = pass == 1 || (size > 0 && (data[0] & 1));
        PEFile::Functions = PEFile::DelayLoad = pass == 1;
        {
            PEFile file(exe);
            // Every line names the file or a DLL; none may hold a line break.
            for (const std::string& line : PEFile::Errors)
                if (line.find('\n') != std::string::npos) std::abort();
            if (PEFile::Found.size() > 1) std::abort();  // only a.dll can ever be found
        }
        if (!PEFile::Found.empty() || !PEFile::Errors.empty()) std::abort();
    }
    return 0;
}
