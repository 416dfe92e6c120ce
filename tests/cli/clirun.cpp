#include "tests/cli/clirun.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace clirun {

std::string quote(const std::string& s) { return "\"" + s + "\""; }

namespace {

Outcome runLine(std::string line) {
#ifdef _WIN32
    line = "\"" + line + "\"";  // cmd /c strips one outer pair of quotes
    const std::u16string w = platform::utf8ToUtf16(line);
    FILE* p = _wpopen(reinterpret_cast<const wchar_t*>(w.c_str()), L"rb");
#else
    FILE* p = popen(line.c_str(), "r");
#endif
    Outcome r{-1, {}, {}};
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
#ifdef _WIN32
    r.status = _pclose(p);
    std::erase(r.out, '\r');  // the console's line ends
#else
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
    return r;
}

}  // namespace

namespace {

// Under Wine, cmd.exe now and then starts nothing and leaves the pipe empty;
// a run that says nothing at all there is run once more. Every run of the
// program is repeatable, so a real silence stays a silence.
constexpr int kAttempts =
#ifdef _WIN32
    2;
#else
    1;
#endif

}  // namespace

Outcome run(const std::string& args) {
    Outcome r{-1, {}, {}};
    for (int i = 0; i < kAttempts; ++i) {
        r = runLine(quote(TAVELIN_REPORT_EXE) + " " + args + " 2>&1");
        if (!r.out.empty()) break;
    }
    return r;
}

Outcome runSplit(const std::string& args, const std::string& errFile) {
    Outcome r{-1, {}, {}};
    for (int i = 0; i < kAttempts; ++i) {
        r = runLine(quote(TAVELIN_REPORT_EXE) + " " + args + " 2>" + quote(errFile));
        std::ifstream in(testutil::u8(errFile), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        r.err = text.str();
#ifdef _WIN32
        std::erase(r.err, '\r');
#endif
        if (!r.out.empty() || !r.err.empty()) break;
    }
    return r;
}

}  // namespace clirun
