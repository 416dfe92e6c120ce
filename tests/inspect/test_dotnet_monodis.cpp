// The .NET metadata reader against Mono's disassembler (monodis, Debian
// mono-utils), which reads the same tables on its own: small C# programs
// compiled here with mcs (references with versions, tokens and a culture,
// [DllImport] modules, PE32 and PE32+), Mono's own assemblies, and the test
// writer's images (so the writer's index widths are Mono's too).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "inspect/pe/clr.h"
#include "platform/sha1.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using testutil::capture;
using testutil::haveCommand;

namespace {

std::string trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t\r'"), b = s.find_last_not_of(" \t\r'");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// The bytes of monodis' hex dump lines ("0x00000000: B7 7A 5C ...") from
// line `i` on; `i` is left on the first other line.
std::vector<std::uint8_t> dump(const std::vector<std::string>& ls, std::size_t& i) {
    std::vector<std::uint8_t> out;
    for (; i < ls.size() && ls[i].rfind("0x", 0) == 0; ++i) {
        std::istringstream in(ls[i].substr(ls[i].find(':') + 1));
        for (std::string byte; in >> byte;) out.push_back(static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16)));
    }
    return out;
}

std::string tokenOfKey(const std::vector<std::uint8_t>& key) {
    if (key.empty()) return {};
    const platform::Sha1::Digest d = platform::Sha1::of(key.data(), key.size());
    std::uint8_t t[8];
    for (int i = 0; i < 8; ++i) t[i] = d[19 - i];
    return hex(t, 8);
}

// "name version token" of each AssemblyRef row, as monodis --assemblyref
// prints them (a full key turned into its token).
std::vector<std::string> monodisReferences(const std::string& path) {
    std::vector<std::string> out;
    const std::vector<std::string> ls = lines(capture("monodis --assemblyref '" + path + "' 2>/dev/null"));
    std::string version, name;
    unsigned long flags = 0;
    for (std::size_t i = 0; i < ls.size();) {
        const std::string& l = ls[i];
        if (const std::size_t at = l.find(": Version="); at != std::string::npos && l[0] != '\t') {
            version = l.substr(at + 10);
            ++i;
        } else if (l.rfind("\tName=", 0) == 0) {
            name = l.substr(6);
            ++i;
        } else if (l.rfind("\tFlags=", 0) == 0) {
            flags = std::stoul(l.substr(7), nullptr, 16);
            ++i;
        } else if (l == "\tZero sized public key") {
            out.push_back(name + " " + version + " ");
            ++i;
        } else if (l == "\tPublic Key:") {
            std::vector<std::uint8_t> key = dump(ls, ++i);
            out.push_back(name + " " + version + " " + (flags & 1 ? tokenOfKey(key) : hex(key.data(), key.size())));
        } else {
            ++i;
        }
    }
    return out;
}

std::vector<std::string> monodisModules(const std::string& path) {
    std::vector<std::string> out;
    for (const std::string& l : lines(capture("monodis --moduleref '" + path + "' 2>/dev/null"))) {
        const std::size_t at = l.find(": ");
        if (at != std::string::npos && l.rfind("ModuleRef Table", 0) != 0) out.push_back(l.substr(at + 2));
    }
    return out;
}

// "name version [culture] token" of the Assembly row, from monodis --assembly.
std::string monodisAssembly(const std::string& path) {
    const std::vector<std::string> ls = lines(capture("monodis --assembly '" + path + "' 2>/dev/null"));
    std::string name, version, culture, token;
    for (std::size_t i = 0; i < ls.size();) {
        const std::string& l = ls[i];
        if (l.rfind("Name:", 0) == 0) name = trim(l.substr(5));
        if (l.rfind("Version:", 0) == 0) version = trim(l.substr(8));
        if (l.rfind("Culture:", 0) == 0) culture = trim(l.substr(8));
        if (l == "\tDump:") {
            token = tokenOfKey(dump(ls, ++i));
            continue;
        }
        ++i;
    }
    return name.empty() ? std::string() : name + " " + version + " [" + culture + "] " + token;
}

std::vector<std::string> ours(const pe::ManagedImage& m) {
    std::vector<std::string> out;
    for (const pe::AssemblyName& a : m.references) out.push_back(a.name + " " + a.versionText() + " " + a.publicKeyToken);
    return out;
}
std::string ourAssembly(const pe::ManagedImage& m) {
    if (!m.hasAssembly) return {};
    const pe::AssemblyName& a = m.assembly;
    return a.name + " " + a.versionText() + " [" + a.culture + "] " + a.publicKeyToken;
}

// Our reading of `path` compared with monodis' in every respect; the
// number of rows compared.
std::size_t compareWithMonodis(const std::string& path) {
    SCOPED_TRACE(path);
    const pe::ManagedImage m = pe::readManagedImage(path);
    EXPECT_EQ(m.state, pe::ManagedImage::State::Read);
    EXPECT_EQ(ours(m), monodisReferences(path));
    EXPECT_EQ(m.moduleRefs, monodisModules(path));
    EXPECT_EQ(ourAssembly(m), monodisAssembly(path));
    return m.references.size() + m.moduleRefs.size() + (m.hasAssembly ? 1 : 0);
}

class Monodis : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveCommand("monodis")) GTEST_SKIP() << "no monodis (Debian mono-utils)";
    }
};

}  // namespace

TEST_F(Monodis, ProgramsCompiledWithMcs) {
    if (!haveCommand("mcs")) GTEST_SKIP() << "no mcs (Debian mono-mcs)";
    testutil::TempDir dir;
    pew::writeFile(dir.file("sat.cs"),
                  "using System.Reflection;\n"
                  "[assembly: AssemblyCulture(\"fr-FR\")]\n"
                  "[assembly: AssemblyVersion(\"1.2.3.4\")]\n"
                  "public class Sat { public static int X() { return 1; } }\n");
    pew::writeFile(dir.file("app.cs"),
                  "using System; using System.Reflection; using System.Runtime.InteropServices;\n"
                  "[assembly: AssemblyVersion(\"5.6.7.8\")]\n"
                  "class P {\n"
                  "  [DllImport(\"kernel32\")] static extern int GetTickCount();\n"
                  "  [DllImport(\"user32.dll\")] static extern int MessageBeep(uint t);\n"
                  "  [DllImport(\"kernel32\")] static extern int GetLastError();\n"
                  "  static void Main() {\n"
                  "    Console.WriteLine(new System.Xml.XmlDocument());\n"
                  "    Console.WriteLine(System.Numerics.BigInteger.One);\n"
                  "    Console.WriteLine(Sat.X());\n"
                  "  }\n"
                  "}\n");
    const std::string d = "'" + dir.path() + "/";
    const std::string mcs = "mcs -nologo -nowarn:8009 ";
    capture(mcs + "-target:library -out:" + d + "sat.dll' " + d + "sat.cs' 2>&1");
    for (const char* platform : {"x86", "x64"})
        capture(mcs + "-platform:" + platform + " -r:System.Xml -r:System.Numerics -r:" + d + "sat.dll' -out:" + d +
                "app-" + platform + ".exe' " + d + "app.cs' 2>&1");
    for (const char* file : {"sat.dll", "app-x86.exe", "app-x64.exe"}) {
        const std::string path = dir.file(file);
        ASSERT_TRUE(std::filesystem::exists(path)) << "mcs did not write " << file;
        compareWithMonodis(path);
    }
    // What the programs hold (monodis --assemblyref shows no culture).
    const pe::ManagedImage app = pe::readManagedImage(dir.file("app-x64.exe"));
    EXPECT_EQ(app.assembly.versionText(), "5.6.7.8");
    EXPECT_EQ(app.moduleRefs, (std::vector<std::string>{"kernel32", "user32.dll"}));
    bool satellite = false, xml = false;
    for (const pe::AssemblyName& a : app.references) {
        satellite |= a.name == "sat" && a.culture == "fr-FR" && a.versionText() == "1.2.3.4";
        xml |= a.name == "System.Xml" && a.publicKeyToken == "b77a5c561934e089";
    }
    EXPECT_TRUE(satellite && xml);
}

// Mono's assemblies: monodis' reading, and each one's token against the
// name of its folder in the GAC ("4.0.0.0__b77a5c561934e089").
TEST_F(Monodis, MonosOwnAssemblies) {
    std::set<std::string> files;  // by real path: /usr/lib/mono/4.5 links into the GAC
    std::error_code ec;
    for (const char* root : {"/usr/lib/mono", "/usr/share/mono", "/usr/lib/cli"})
        for (const auto& e : std::filesystem::recursive_directory_iterator(root, ec)) {
            const std::string ext = e.path().extension().string();
            if (e.is_regular_file(ec) && (ext == ".dll" || ext == ".exe"))
                files.insert(std::filesystem::canonical(e.path(), ec).string());
        }
    if (files.empty()) GTEST_SKIP() << "no assemblies under /usr/lib/mono";
    std::size_t gac = 0, rows = 0;
    for (const std::string& path : files) {
        rows += compareWithMonodis(path);
        const std::string folder = std::filesystem::path(path).parent_path().filename().string();
        if (path.find("/gac/") == std::string::npos || folder.find("__") == std::string::npos) continue;
        const pe::ManagedImage m = pe::readManagedImage(path);
        EXPECT_EQ(m.assembly.versionText() + "__" + m.assembly.publicKeyToken, folder) << path;
        ++gac;
    }
    EXPECT_GT(rows, files.size());
    std::printf("compared %zu assemblies (%zu rows), %zu of them in the GAC\n", files.size(), rows, gac);
}

// The writer's images as Mono reads them: wide heaps, both stream forms,
// PE32+, and every table at the width thresholds. Mono 6.8 gives the
// ENCLog and ENCMap tables no size (the runtime gives them 8 and 4 bytes a
// row), so they stay empty here.
TEST_F(Monodis, TheTestWriterIsReadAlikeByMono) {
    testutil::TempDir dir;
    pew::Managed base;
    base.assembly = pew::ManagedName{"Demo", 1, 2, 3, 4, "", {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}, false};
    base.references = {{"mscorlib", 4, 0, 0, 0, "", {0xB7, 0x7A, 0x5C, 0x56, 0x19, 0x34, 0xE0, 0x89}, false},
                       {"Sat", 1, 0, 0, 0, "fr-FR", {}, false},
                       {"Full", 2, 0, 0, 0, "", {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}, true}};
    base.moduleRefs = {"kernel32", "user32.dll"};
    std::vector<std::pair<std::string, pew::Image>> images;
    for (unsigned bits = 0; bits < 16; ++bits) {
        pew::Image img;
        img.pe32plus = bits & 8;
        img.managed = base;
        img.managed->wideStrings = bits & 1;
        img.managed->wideBlobs = bits & 2;
        img.managed->wideGuids = bits & 4;
        img.managed->enc = bits & 8;
        images.emplace_back("flags" + std::to_string(bits), img);
    }
    for (unsigned t = 0; t <= 0x2C; ++t) {
        if (t == 0x1E || t == 0x1F) continue;
        for (std::uint32_t n : {2048u, 65536u}) {
            pew::Image img;
            img.managed = base;
            for (unsigned other = 0; other <= 0x2C; ++other)
                if (other != 0x1E && other != 0x1F) img.managed->extraRows[other] = 1;
            const std::uint32_t own = t == 0x00 || t == 0x02 || t == 0x20 ? 1 : t == 0x1A ? 2 : t == 0x23 ? 3 : 0;
            img.managed->extraRows[t] = n - own;
            images.emplace_back("table" + std::to_string(t) + "-" + std::to_string(n), img);
        }
    }
    for (const auto& [name, img] : images) {
        const std::string path = dir.file(name + ".dll");
        pew::writeFile(path, pew::build(img));
        compareWithMonodis(path);
    }
}
