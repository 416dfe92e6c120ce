// The release checks from the command line: signatures made here by
// osslsigncode with a throw-away certificate and read back against its own
// verify, --require-signed as a CI gate, hardening on rows and --ship, the
// SBOM validated against the CycloneDX project's schema, and --diff of two
// real releases. The real material comes from the npm registry once
// (release_material.sh); without it those tests say so and skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/peimage.h"
#include "platform/platform.h"
#include "tests/cli/clirun.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

using clirun::Outcome;
using clirun::quote;
using Json = nlohmann::json;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string sh(const std::string& command) { return testutil::capture(command + " 2>&1"); }

// Where release_material.sh put `dir` ("7zip-bin-5.2.0"); empty when it is not there.
std::string material(const std::string& dir) {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const std::string cache = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.cache";
    const std::string path = cache + "/tavelin/npm/" + dir + "/package";
    return fs::is_directory(path) ? path : std::string();
}
#define NEED_MATERIAL(var, dir)                                                              \
    const std::string var = material(dir);                                                   \
    if (var.empty()) GTEST_SKIP() << dir << " could not be fetched from the npm registry " \
                                            "(offline?): see tests/cli/release_material.sh"

// "Nov 14 22:13:20 2023 GMT", as osslsigncode prints times, in ISO form.
std::string isoTime(const std::string& text) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::istringstream in(text);
    std::string month, clock;
    int day = 0, year = 0;
    in >> month >> day >> clock >> year;
    int m = 0;
    while (m < 12 && month != months[m]) ++m;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%sZ", year, m + 1, day, clock.c_str());
    return buf;
}

// The value after "Timestamp time:" and the subject's CN osslsigncode reads.
std::string verifiedTimestamp(const std::string& verify) {
    const auto at = verify.find("Timestamp time: ");
    return at == std::string::npos ? std::string() : isoTime(verify.substr(at + 16, verify.find('\n', at) - at - 16));
}

Json parsed(const std::string& text) {
    Json j = Json::parse(text, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << text;
    return j;
}

// The rows' objects by file name.
std::map<std::string, Json> byFile(const Json& rows) {
    std::map<std::string, Json> out;
    for (const Json& r : rows)
        if (r["kind"] != "error") out.emplace(r["file"].get<std::string>(), r);
    return out;
}

// A program of 64 bits and its DLLs in `app`, a fake Windows folder with
// kernel32.dll, vcruntime140.dll and msvcr100.dll, no default folder.
class Release : public ::testing::Test {
protected:
    void SetUp() override {
        app = dir.mkdir("app");
        win = dir.mkdir("win");
        system32 = dir.mkdir("win/System32");
        for (const char* dll : {"kernel32.dll", "msvcrt.dll", "vcruntime140.dll", "msvcr100.dll"}) write(system32 + "/" + dll, {});
        pew::Image prog;
        prog.pe32plus = true;
        for (const char* dll : {"tvllib.dll", "KERNEL32.dll", "vcruntime140.dll", "msvcr100.dll"}) prog.import(dll);
        prog.delayImport("tvllate.dll");
        prog.version(pew::VersionInfo::simple("3.1"));
        pew::writeFile(app + "/prog.exe", pew::build(prog));
        write(app + "/tvllib.dll", {"KERNEL32.dll"}, 0);  // no ASLR
        write(app + "/tvllate.dll", {"KERNEL32.dll"});
        search = "-d --dll-path " + quote(dir.mkdir("empty")) + " --windows " + quote(win);
    }
    static void write(const std::string& path, const std::vector<std::string>& names,
                      std::optional<std::uint16_t> characteristics = {}) {
        pew::Image image;
        image.pe32plus = true;
        image.dllCharacteristics = characteristics;
        for (const std::string& n : names) image.import(n);
        pew::writeFile(path, pew::build(image));
    }
    Outcome cli(const std::string& args) { return clirun::runSplit(search + " " + args, dir.file("stderr.txt")); }
    std::string prog() const { return app + "/prog.exe"; }

    testutil::TempDir dir;
    std::string app, win, system32, search;
};

class Signed : public Release {
protected:
    void SetUp() override {
        if (!testutil::haveCommand("osslsigncode") || !testutil::haveCommand("openssl"))
            GTEST_SKIP() << "osslsigncode or openssl missing";
        Release::SetUp();
        const std::string req = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 ";
        sh(req + "-subj '/O=Tavelin Test/CN=Tavelin Signer' -addext extendedKeyUsage=codeSigning -keyout " +
           dir.file("key.pem") + " -out " + dir.file("cert.pem"));
        sh(req + "-subj '/O=Tavelin TSA/CN=Tavelin Timestamps' -addext extendedKeyUsage=critical,timeStamping "
                 "-keyout " + dir.file("tsakey.pem") + " -out " + dir.file("tsa.pem"));
        // The program timestamped, the late DLL signed twice, the library not at all.
        sign(prog(), "-h sha256 -TSA-certs " + dir.file("tsa.pem") + " -TSA-key " + dir.file("tsakey.pem") +
                         " -TSA-time 1700000000");
        sign(app + "/tvllate.dll", "-h sha1");
        sign(app + "/tvllate.dll", "-nest -h sha256");
    }
    void sign(const std::string& path, const std::string& options) {
        const std::string out = path + ".signed";
        const std::string log = sh("osslsigncode sign -certs " + dir.file("cert.pem") + " -key " + dir.file("key.pem") +
                                   " " + options + " -in " + quote(path) + " -out " + quote(out));
        ASSERT_TRUE(fs::exists(out)) << log;
        fs::rename(out, path);
    }
    std::string verify(const std::string& path) {
        return sh("osslsigncode verify -CAfile " + dir.file("cert.pem") + " -TSA-CAfile " + dir.file("tsa.pem") +
                  " -in " + quote(path));
    }
};

}  // namespace

// Each shipped file's signatures on its row, as osslsigncode verifies
// them; the files the target provides carry none.
TEST_F(Signed, RowsCarryWhatOsslsigncodeVerifies) {
    const Outcome r = cli("--signatures --format json " + quote(prog()));
    EXPECT_EQ(r.status, 0) << r.err;
    const auto rows = byFile(parsed(r.out));
    const Json& p = rows.at("prog.exe")["signature"];
    EXPECT_EQ(p["status"], "signed");
    ASSERT_EQ(p["signers"].size(), 1u);
    EXPECT_EQ(p["signers"][0]["subject"]["organization"], "Tavelin Test");
    EXPECT_EQ(p["signers"][0]["subject"]["common-name"], "Tavelin Signer");
    EXPECT_EQ(p["signers"][0]["digest"], "SHA-256");
    EXPECT_EQ(p["signers"][0]["timestamp"], "rfc3161");
    EXPECT_EQ(p["signers"][0]["timestamp-time"], verifiedTimestamp(verify(prog())));
    EXPECT_EQ(p["signers"][0]["timestamp-time"], "2023-11-14T22:13:20Z");

    const Json& late = rows.at("tvllate.dll")["signature"];
    EXPECT_EQ(late["status"], "signed");
    ASSERT_EQ(late["signers"].size(), 2u);
    EXPECT_EQ(late["signers"][0]["digest"], "SHA-1");
    EXPECT_EQ(late["signers"][1]["digest"], "SHA-256");
    EXPECT_EQ(late["signers"][1]["nested"], true);
    EXPECT_EQ(late["signers"][0]["timestamp"], nullptr);
    EXPECT_EQ(late["sha1-only"], false);
    EXPECT_NE(verify(app + "/tvllate.dll").find("Number of verified signatures: 2"), std::string::npos);

    EXPECT_EQ(rows.at("tvllib.dll")["signature"]["status"], "unsigned");
    EXPECT_EQ(rows.at("kernel32.dll")["signature"], nullptr);
    const Outcome csv = cli("--signatures --format csv " + quote(prog()));
    EXPECT_NE(csv.out.find(",signature,signer-organization,"), std::string::npos);
    EXPECT_NE(csv.out.find(",signed,Tavelin Test,Tavelin Signer,Tavelin Test,Tavelin Signer,SHA-256,2023-11-14T22:13:20Z,0,"),
              std::string::npos)
        << csv.out;
}

// --require-signed fails the job on any shipped file unsigned or changed
// after signing, refuses the copy, and takes --ignore as exemptions; a
// damaged signature is told, never a crash.
TEST_F(Signed, RequireSignedGatesTheShipSet) {
    const std::string text = cli("--signatures " + quote(prog())).out;
    EXPECT_NE(text.find("Signatures : 3 fichiers, 2 signés, 1 non signé (confiance non jugée"), std::string::npos)
        << text;
    const Outcome plain = cli("--ship " + quote(prog()));
    const Outcome gate = cli("--ship --require-signed " + quote(prog()));
    EXPECT_EQ(gate.status, 1);
    EXPECT_EQ(gate.out, plain.out);
    EXPECT_EQ(gate.err, app + "/tvllib.dll non signé\n" + plain.err);  // problems first, as --ship has them
    EXPECT_EQ(cli("--ship --require-signed --ignore 'TVLLIB.*' " + quote(prog())).status, 0);
    const std::string out = dir.file("out");
    EXPECT_EQ(cli("--copy-to " + quote(out) + " --require-signed " + quote(prog())).status, 1);
    EXPECT_FALSE(fs::exists(out + "/tvllate.dll"));

    // One byte changed after signing.
    std::fstream f(app + "/tvllate.dll", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x200);
    f.put('\x5A');
    f.close();
    EXPECT_NE(verify(app + "/tvllate.dll").find("MISMATCH"), std::string::npos);
    const Outcome changed = cli("--ignore tvllib.dll --require-signed " + quote(prog()));
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.err, app + "/tvllate.dll modifié après signature\n");

    // A signature blob of garbage.
    std::string bytes;
    {
        std::ifstream in(app + "/tvllib.dll", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    Bytes damaged(bytes.begin(), bytes.end());
    while (damaged.size() % 8) damaged.push_back(0);
    const std::uint32_t at = static_cast<std::uint32_t>(damaged.size());
    const Bytes entry{24, 0, 0, 0, 0, 2, 2, 0, 0x30, 0x82, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    damaged.insert(damaged.end(), entry.begin(), entry.end());
    platform::MemoryByteSource src(damaged.data(), damaged.size());
    const std::uint64_t directory = platform::PeImage(src).directoryOffset(4);
    pew::put32(damaged, directory, at);
    pew::put32(damaged, directory + 4, static_cast<std::uint32_t>(entry.size()));
    pew::writeFile(app + "/tvllib.dll", damaged);
    const Outcome broken = cli("--signatures --require-signed " + quote(prog()));
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find(app + "/tvllib.dll : signature endommagée ("), std::string::npos) << broken.out;
    EXPECT_NE(broken.err.find(app + "/tvllib.dll : signature endommagée\n"), std::string::npos) << broken.err;
}

// Binaries Microsoft signed beside unsigned ones, from a real package.
TEST(ReleaseReal, MicrosoftSignedAndUnsignedFiles) {
    NEED_MATERIAL(pty, "node-pty-1.1.0");
    const std::string x64 = pty + "/prebuilds/win32-x64";
    const Outcome r = clirun::run("--signatures --format json " + quote(x64 + "/conpty/conpty.dll") + " " +
                                  quote(x64 + "/pty.node"));
    const auto rows = byFile(parsed(r.out));
    const Json& ms = rows.at("conpty.dll")["signature"];
    EXPECT_EQ(ms["status"], "signed");
    EXPECT_EQ(ms["microsoft"], true);
    EXPECT_EQ(ms["signers"][0]["subject"]["organization"], "Microsoft Corporation");
    if (testutil::haveCommand("osslsigncode")) {
        const std::string theirs = sh("osslsigncode verify -in " + quote(x64 + "/conpty/conpty.dll"));
        EXPECT_EQ(ms["signers"][0]["timestamp-time"], verifiedTimestamp(theirs));
        EXPECT_NE(theirs.find(ms["signers"][0]["issuer"]["common-name"].get<std::string>()), std::string::npos);
    }
    EXPECT_EQ(rows.at("pty.node")["signature"]["status"], "unsigned");
    EXPECT_EQ(rows.at("winpty.dll")["signature"]["status"], "unsigned");
}

// The hardening on every row that names a file, and with --ship a line
// per shipped file lacking a mitigation, and per runtime out of support.
TEST_F(Release, HardeningOnRowsAndShipLines) {
    const auto rows = byFile(parsed(cli("--hardening --format json " + quote(prog())).out));
    const Json& weak = rows.at("tvllib.dll")["hardening"];
    EXPECT_EQ(weak["aslr"], false);
    EXPECT_EQ(weak["high-entropy-va"], false);
    EXPECT_EQ(weak["dep"], true);  // 64-bit processes run with DEP
    EXPECT_EQ(weak["safeseh"], nullptr);
    EXPECT_EQ(weak["missing"], Json({"ASLR", "HIGH_ENTROPY_VA", "CFG"}));
    EXPECT_EQ(rows.at("tvllate.dll")["hardening"]["aslr"], true);
    EXPECT_EQ(rows.at("msvcr100.dll")["hardening"]["unsupported-runtime"], "Visual C++ 2010");
    EXPECT_EQ(rows.at("prog.exe").count("signature"), 0u);

    // Every flag on: a 64-bit DLL with its guard table, a 32-bit one without SEH.
    pew::Image cfg;
    cfg.pe32plus = true;
    cfg.dllCharacteristics = 0x4000 | 0x0100 | 0x0040 | 0x0020;
    cfg.loadConfig = pew::LoadConfig{};
    cfg.loadConfig->guardCfFunctionTable = 0x180004000;
    cfg.loadConfig->guardCfFunctionCount = 3;
    cfg.loadConfig->guardFlags = 0x100;
    pew::writeFile(app + "/tvlcfg.dll", pew::build(cfg));
    pew::Image x86;
    x86.dllCharacteristics = 0x0400 | 0x0100 | 0x0040;
    pew::writeFile(app + "/tvlx86.dll", pew::build(x86));
    const auto strong = byFile(parsed(cli("--hardening --format json " + quote(app + "/tvlcfg.dll") + " " +
                                          quote(app + "/tvlx86.dll")).out));
    EXPECT_EQ(strong.at("tvlcfg.dll")["hardening"],
              Json::parse(R"({"aslr": true, "high-entropy-va": true, "dep": true, "cfg": true, "safeseh": null,
                              "missing": [], "unsupported-runtime": null})"));
    EXPECT_EQ(strong.at("tvlx86.dll")["hardening"]["safeseh"], true);
    EXPECT_EQ(strong.at("tvlx86.dll")["hardening"]["high-entropy-va"], nullptr);
    EXPECT_EQ(strong.at("tvlx86.dll")["hardening"]["missing"], Json({"CFG"}));

    const Outcome plain = cli("--ship " + quote(prog()));
    const Outcome ship = cli("--ship --hardening " + quote(prog()));
    EXPECT_EQ(ship.status, 0);
    EXPECT_EQ(ship.out, plain.out);
    EXPECT_EQ(ship.err, plain.err + prog() + " : protections absentes : HIGH_ENTROPY_VA, CFG\n" + app +
                            "/tvllib.dll : protections absentes : ASLR, HIGH_ENTROPY_VA, CFG\n" + app +
                            "/tvllate.dll : protections absentes : HIGH_ENTROPY_VA, CFG\n"
                            "msvcr100.dll : Visual C++ 2010, hors du support de Microsoft (pour " + prog() + ")\n");
}

// The SBOM validates against the CycloneDX project's schema; its files are
// the listed ones and --ship's, with sha256sum's hashes; the graph follows
// the imports, delay-loads marked; what must be installed is a component.
TEST_F(Release, SbomValidatesAndMatchesTheShipSet) {
    NEED_MATERIAL(library, "cyclonedx-cyclonedx-library-10.3.0");
    const std::string mingw = "/usr/x86_64-w64-mingw32/lib";
    const bool toolchain = fs::exists(mingw + "/libwinpthread-1.dll");
    if (toolchain) {
        write(app + "/tvlmt.dll", {"libwinpthread-1.dll"});
        search += " --add-dll-path " + mingw;
        pew::Image p = pew::Image{};
        p.pe32plus = true;
        p.import("tvllib.dll").import("tvlmt.dll");
        pew::writeFile(app + "/second.exe", pew::build(p));
    }
    pew::writeFile(app + "/prog.runtimeconfig.json",
                   std::string(R"({"runtimeOptions": {"framework": {"name": "Microsoft.NETCore.App", "version": "8.0.0"}}})"));
    const std::string files = quote(prog()) + (toolchain ? " " + quote(app + "/second.exe") : "");
    const testutil::ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
    const Outcome r = cli("--format cyclonedx " + files);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cli("--format cyclonedx " + files).out, r.out) << "one release, one BOM";
    pew::writeFile(dir.file("bom.json"), r.out);
    // Debian's python3, where python3-jsonschema installs, before another on PATH.
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string check = sh(python + " " + quote(VALIDATE_CYCLONEDX) + " " + quote(library + "/res/schema") + " " +
                                 quote(dir.file("bom.json")) + " && echo VALID");
    EXPECT_NE(check.find("VALID"), std::string::npos) << check;

    const Json bom = parsed(r.out);
    std::set<std::string> refs, expected = {prog()};
    if (toolchain) expected.insert(app + "/second.exe");
    std::istringstream shipped(cli("--ship " + files).out);
    for (std::string line; std::getline(shipped, line);) expected.insert(line);
    std::map<std::string, std::string> kinds;
    for (const Json& c : bom["components"]) {
        const std::string ref = c["bom-ref"];
        if (!c.contains("hashes")) {
            kinds[ref] = c["type"];
            continue;
        }
        refs.insert(ref);
        const std::string sum = sh("sha256sum " + quote(ref));
        EXPECT_EQ(c["hashes"][0]["content"], sum.substr(0, 64)) << ref;
        if (ref == prog()) {
            EXPECT_EQ(c["version"], "1.0.0.0");
        }
        if (ref.find("libwinpthread") != std::string::npos) {
            const std::string owner = sh("dpkg-query -S " + quote(ref));
            EXPECT_EQ(c["purl"].get<std::string>().rfind("pkg:deb/debian/" + owner.substr(0, owner.find(':')) + "@", 0), 0u)
                << c["purl"];
        }
    }
    EXPECT_EQ(refs, expected);
    EXPECT_EQ(kinds.at("redistributable:Visual C++ 2015-2022"), "framework");
    EXPECT_EQ(kinds.at("redistributable:Visual C++ 2010"), "framework");
    EXPECT_EQ(kinds.at("framework:Microsoft.NETCore.App@8.0.0"), "framework");
    for (const Json& d : bom["dependencies"]) {
        if (d["ref"] != prog()) continue;
        EXPECT_EQ(d["dependsOn"], Json({app + "/tvllib.dll", "redistributable:Visual C++ 2015-2022",
                                        "redistributable:Visual C++ 2010", app + "/tvllate.dll",
                                        "framework:Microsoft.NETCore.App@8.0.0"}));
    }
    const Json& props = bom["components"][0]["properties"];
    EXPECT_NE(std::find(props.begin(), props.end(), Json({{"name", "tavelin:delay-load"}, {"value", app + "/tvllate.dll"}})),
              props.end())
        << props;
}

// Two real releases of two packages: versions up (and, compared the other
// way, down: status 1), DLLs added and removed, programs paired by path.
TEST(ReleaseReal, DiffOfTwoReleases) {
    NEED_MATERIAL(old7z, "7zip-bin-5.1.1");
    NEED_MATERIAL(new7z, "7zip-bin-5.2.0");
    const testutil::TempDir dir;
    const auto exes = [](const std::string& root) {
        return quote(root + "/win/x64/7za.exe") + " " + quote(root + "/win/ia32/7za.exe");
    };
    const std::string before = dir.file("before.json"), after = dir.file("after.json");
    pew::writeFile(before, clirun::run("-r --format json " + exes(old7z)).out);
    pew::writeFile(after, clirun::run("-r --format json " + exes(new7z)).out);
    const Outcome up = clirun::run("-r --diff " + quote(before) + " " + exes(new7z));
    EXPECT_EQ(up.status, 0) << up.out;
    EXPECT_EQ(up.out, "7za.exe (" + old7z + "/win/x64/7za.exe -> " + new7z + "/win/x64/7za.exe)\n"
                      "  7za.exe : version 19.0.0.0 -> 21.7.0.0 (hausse)\n"
                      "7za.exe (" + old7z + "/win/ia32/7za.exe -> " + new7z + "/win/ia32/7za.exe)\n"
                      "  7za.exe : version 19.0.0.0 -> 21.7.0.0 (hausse)\n");
    const Outcome down = clirun::run("-r --diff " + quote(after) + " --format json " + exes(old7z));
    EXPECT_EQ(down.status, 1);
    EXPECT_EQ(parsed(down.out)["programs"][0]["versions"][0]["change"], "down");
    EXPECT_EQ(clirun::run("-r --diff " + quote(after) + " " + exes(new7z)).out, "aucun changement\n");

    NEED_MATERIAL(oldSharp, "img-sharp-win32-x64-0.33.5");
    NEED_MATERIAL(newSharp, "img-sharp-win32-x64-0.34.1");
    pew::writeFile(before, clirun::run("-r --format json " + quote(oldSharp + "/lib/sharp-win32-x64.node")).out);
    const Json d = parsed(clirun::run("-r --format json --diff " + quote(before) + " " +
                                      quote(newSharp + "/lib/sharp-win32-x64.node")).out);
    ASSERT_EQ(d["programs"].size(), 1u);
    EXPECT_EQ(d["programs"][0]["added"], Json::parse(R"([{"file": "libvips-cpp-8.16.1.dll", "version": null,
                                                          "folder": ".", "origin": "app"}])"));
    EXPECT_EQ(d["programs"][0]["removed"][0]["file"], "libvips-cpp.dll");

    const Outcome unreadable = clirun::run("--diff " + quote(dir.file("none.json")) + " " + exes(new7z));
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_NE(unreadable.out.find("--diff: cannot read"), std::string::npos);
}

// What the checks cannot be asked with is a usage error, said in one line.
TEST(ReleaseOptions, ContradictionsAreUsageErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"--diff old.json --ship", "--diff compares two reports; --ship is for one run"},
        {"--diff old.json --format csv", "--diff prints what changed as text or json, not csv"},
        {"--format cyclonedx --copy-to out", "--format cyclonedx writes the SBOM of the ship set; --copy-to copies it"},
        {"--signatures --tree", "--signatures checks the files of the report or of --ship; --tree draws text"},
    };
    for (const auto& [args, why] : cases) {
        const Outcome r = clirun::run(std::string(args) + " prog.exe");
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), std::string("tavelin-report: ") + why) << args;
    }
}
