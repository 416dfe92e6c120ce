// The import reader on images written by the test writer: order, recursion,
// cycles, missing DLLs, unreadable files and hostile images.
#include <gtest/gtest.h>

#include <algorithm>

#include "inspect/uimports.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

struct Result {
    bool done;
    std::vector<std::string> found, errors;
};

class Imports : public ::testing::Test {
protected:
    void SetUp() override { PEFile::Recursive = false; }
    void TearDown() override { PEFile::Recursive = false; }

    std::string write(const std::string& name, const pew::Image& img) {
        const std::string path = dir.file(name);
        pew::writeFile(path, pew::build(img));
        return path;
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.file(name);
        pew::writeFile(path, bytes);
        return path;
    }
    std::string dll(const std::vector<std::string>& imports, const std::string& name, bool plus = false) {
        pew::Image img;
        img.pe32plus = plus;
        img.imports = imports;
        return write(name, img);
    }
    // As the found list shows a path of this folder.
    std::string listed(const std::string& name) const { return platform::listPath(dir.file(name)); }

    Result run(const std::string& path, bool recursive = false) {
        PEFile::Recursive = recursive;
        PEFile f(path);
        return {f.Done, PEFile::Found, PEFile::Errors};
    }

    testutil::TempDir dir;
    testutil::ScopedEnv onlyImporter{"TAVELIN_DLL_PATH", ""};  // only the importer's folder (Linux)
};

const char* const kNotWin32 = " n'est pas un exécutable Win32";

}  // namespace

TEST_F(Imports, DirectImportsInTableOrderForBothOptionalHeaderKinds) {
    for (bool plus : {false, true}) {
        dll({}, "tvlone.dll", plus);  // of the importer's machine
        dll({}, "tvltwo.dll", plus);
        const std::string exe = dll({"tvlone.dll", "TVLTWO.DLL", "tvlone.dll"}, plus ? "app64.exe" : "app32.exe", plus);
        const Result r = run(exe);
        EXPECT_TRUE(r.done);
        EXPECT_EQ(r.found, (std::vector<std::string>{listed("tvlone.dll"), listed("tvltwo.dll")}));
        EXPECT_TRUE(r.errors.empty());
    }
}

TEST_F(Imports, RecursionIsDepthFirstPreOrderAndOffShowsDirectOnly) {
    dll({"tvlthree.dll"}, "tvlone.dll");
    dll({}, "tvltwo.dll");
    dll({"tvlone.dll"}, "tvlthree.dll");  // back to one: a cycle
    const std::string exe = dll({"tvlone.dll", "tvltwo.dll"}, "app.exe");
    EXPECT_EQ(run(exe, true).found,
              (std::vector<std::string>{listed("tvlone.dll"), listed("tvlthree.dll"), listed("tvltwo.dll")}));
    EXPECT_EQ(run(exe, false).found, (std::vector<std::string>{listed("tvlone.dll"), listed("tvltwo.dll")}));
}

TEST_F(Imports, MutualImportsAreWalkedOnce) {
    dll({"tvlb.dll", "tvlmissing.dll"}, "tvla.dll");
    dll({"tvla.dll"}, "tvlb.dll");
    const Result r = run(dll({"tvla.dll"}, "app.exe"), true);
    EXPECT_EQ(r.found, (std::vector<std::string>{listed("tvla.dll"), listed("tvlb.dll")}));
    EXPECT_EQ(r.errors, (std::vector<std::string>{"tvlmissing.dll invisible pour " + listed("tvla.dll")}));

    // The listed file itself is not in the found list: reached again through
    // a cycle, it is walked once more, and only once.
    const Result self = run(dir.file("tvla.dll"), true);
    EXPECT_EQ(self.found, (std::vector<std::string>{listed("tvlb.dll"), listed("tvla.dll")}));
    EXPECT_EQ(self.errors.size(), 2u);
}

TEST_F(Imports, MissingDllGivesOneLineAndTheWalkGoesOn) {
    dll({}, "tvlok.dll");
    const std::string exe = dll({"TvlGone.dll", "tvlok.dll"}, "app.exe");
    const Result r = run(exe);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.found, std::vector<std::string>{listed("tvlok.dll")});
    EXPECT_EQ(r.errors, std::vector<std::string>{"TvlGone.dll invisible pour " + exe});
}

TEST_F(Imports, NestedErrorsNameTheNestedPath) {
    pew::writeFile(dir.file("tvltext.dll"), std::string("this is text\r\n"));
    const std::string exe = dll({"tvltext.dll"}, "app.exe");
    const Result r = run(exe, true);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.found, std::vector<std::string>{listed("tvltext.dll")});
    EXPECT_EQ(r.errors, std::vector<std::string>{listed("tvltext.dll") + kNotWin32});
}

TEST_F(Imports, UnreadableFilesGiveTheirLine) {
    pew::writeFile(dir.file("text.exe"), std::string("MZ but only text, no headers at all......"));
    pew::writeFile(dir.file("empty.dll"), std::string());
    const struct {
        std::string path, line;
    } cases[] = {
        {dir.file("text.exe"), dir.file("text.exe") + kNotWin32},
        {dir.file("empty.dll"), dir.file("empty.dll") + " non mappable"},
        {dir.file("absent.dll"), dir.file("absent.dll") + " non ouvrable"},
        {dir.path(), dir.path() + " non ouvrable"},  // a folder
    };
    for (const auto& c : cases) {
        const Result r = run(c.path);
        EXPECT_FALSE(r.done) << c.path;
        EXPECT_TRUE(r.found.empty());
        EXPECT_EQ(r.errors, std::vector<std::string>{c.line});
    }
#ifndef _WIN32
    ASSERT_EQ(mkfifo(dir.file("fifo.dll").c_str(), 0600), 0);
    EXPECT_EQ(run(dir.file("fifo.dll")).errors, std::vector<std::string>{dir.file("fifo.dll") + " non ouvrable"});
#endif
}

TEST_F(Imports, NoImportDirectoryIsACompleteAnalysis) {
    const Result r = run(dll({}, "leaf.dll"));
    EXPECT_TRUE(r.done);
    EXPECT_TRUE(r.found.empty());
    EXPECT_TRUE(r.errors.empty());

    // An import directory whose RVA lies in no section.
    pew::Layout layout;
    std::vector<std::uint8_t> bytes = pew::build(pew::Image{}.import("tvlx.dll"), &layout);
    pew::put32(bytes, layout.importDataDirectory, 0x7FFF0000);
    const Result nowhere = run(write("nowhere.dll", bytes));
    EXPECT_TRUE(nowhere.done);
    EXPECT_TRUE(nowhere.errors.empty());
}

TEST_F(Imports, ListsAndCurrentDirectoryAreRestored) {
    dll({}, "tvlone.dll");
    const std::string exe = dll({"tvlone.dll"}, "app.exe");
    const std::string before = platform::currentDirectory();
    {
        PEFile outer(exe);
        EXPECT_EQ(PEFile::Found.size(), 1u);
        {
            PEFile inner(exe);  // alive at the same time: shares the lists
            EXPECT_EQ(PEFile::Found.size(), 1u);
        }
        EXPECT_EQ(PEFile::Found.size(), 1u);
    }
    EXPECT_TRUE(PEFile::Found.empty());
    EXPECT_TRUE(PEFile::Errors.empty());
    EXPECT_EQ(platform::currentDirectory(), before);
}

TEST_F(Imports, NonAsciiNamesAndFolders) {
    const std::string sub = dir.mkdir("répertoire été");
    pew::Image dllImg;
    pew::writeFile(platform::joinPath(sub, "café.dll"), pew::build(dllImg));
    pew::Image exeImg;
    exeImg.import("caf\xE9.dll").import("na\xEFve.dll");  // code page 1252 bytes in the table
    const std::string exe = platform::joinPath(sub, "programme.exe");
    pew::writeFile(exe, pew::build(exeImg));
    const Result r = run(exe);
    EXPECT_EQ(r.found, std::vector<std::string>{platform::listPath(platform::joinPath(sub, "café.dll"))});
    EXPECT_EQ(r.errors, std::vector<std::string>{"naïve.dll invisible pour " + exe});
}

TEST_F(Imports, DeepChainsDoNotExhaustTheStack) {
    const int depth = 3000;
    for (int i = 0; i < depth; ++i) {
        std::vector<std::string> next;
        if (i + 1 < depth) next.push_back("tvlchain" + std::to_string(i + 1) + ".dll");
        dll(next, "tvlchain" + std::to_string(i) + ".dll");
    }
    const Result r = run(dll({"tvlchain0.dll"}, "app.exe"), true);
    EXPECT_TRUE(r.done);
    ASSERT_EQ(r.found.size(), static_cast<std::size_t>(depth));
    EXPECT_EQ(r.found.back(), listed("tvlchain2999.dll"));
    EXPECT_TRUE(r.errors.empty());
}

// ---------------------------------------------------------------------------
// Hostile images: each gives the line the reader names, never a crash.

class Hostile : public Imports {
protected:
    void SetUp() override {
        Imports::SetUp();
        dll({}, "tvlok.dll");
        image = pew::build(pew::Image{}.import("tvlok.dll").import("tvlok2.dll"), &layout);
    }
    Result runBytes(const std::vector<std::uint8_t>& bytes) { return run(write("hostile.exe", bytes)); }
    std::string wrong() const { return dir.file("hostile.exe") + kNotWin32; }

    pew::Layout layout;
    std::vector<std::uint8_t> image;
};

TEST_F(Hostile, EveryTruncationIsSafe) {
    for (std::size_t cut = 1; cut < image.size(); cut += (cut < 0x400 ? 1 : 61)) {
        std::vector<std::uint8_t> bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
        const Result r = runBytes(bytes);
        ASSERT_LE(r.errors.size(), 2u) << cut;
        if (!r.done) {
            EXPECT_EQ(r.errors.back(), wrong()) << cut;
        }
    }
}

TEST_F(Hostile, AbsurdHeaderFields) {
    struct Patch {
        std::size_t at;
        std::uint32_t value;
        int width;
    };
    const std::uint32_t fh = layout.ntHeaders + 4;
    const Patch patches[] = {
        {0x3C, 0xFFFFFFF0u, 4},                   // e_lfanew far past the end
        {0x3C, 0xFFFFFFFFu, 4},                   // and wrapping
        {fh + 2, 0xFFFF, 2},                      // NumberOfSections
        {fh + 16, 0xFFFF, 2},                     // SizeOfOptionalHeader
        {layout.importDataDirectory, 0xFFFFFFFFu, 4},
    };
    for (const Patch& p : patches) {
        std::vector<std::uint8_t> bytes = image;
        if (p.width == 2) {
            pew::put16(bytes, p.at, static_cast<std::uint16_t>(p.value));
        } else {
            pew::put32(bytes, p.at, p.value);
        }
        const Result r = runBytes(bytes);
        if (p.at == layout.importDataDirectory) {
            EXPECT_TRUE(r.done);  // in no section: no imports
        } else {
            EXPECT_FALSE(r.done);
            EXPECT_EQ(r.errors, std::vector<std::string>{wrong()});
        }
    }
}

TEST_F(Hostile, DescriptorsAndNamesRunningOffTheFile) {
    // Descriptors that never end: the array runs to the end of the file.
    std::vector<std::uint8_t> bytes = image;
    for (std::size_t at = layout.importDescriptors; at + 20 <= bytes.size(); at += 20)
        pew::put32(bytes, at + 12, layout.importSectionRva + 0x10);
    Result r = runBytes(bytes);
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.errors.back(), wrong());

    // A name without its zero at the very end of the file.
    bytes = image;
    bytes.resize(layout.dllNameOffsets[0] + 3);
    r = runBytes(bytes);
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.errors, std::vector<std::string>{wrong()});

    // A name whose RVA lies in no section: an empty name that is never found.
    bytes = image;
    pew::put32(bytes, layout.importDescriptors + 12, 0x00F00000);
    r = runBytes(bytes);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.found, std::vector<std::string>{});
    EXPECT_EQ(r.errors, (std::vector<std::string>{" invisible pour " + dir.file("hostile.exe"),
                                                  "tvlok2.dll invisible pour " + dir.file("hostile.exe")}));
}

TEST_F(Hostile, FoundEntriesBeforeAFailureAreKeptButDoneIsFalse) {
    // The second descriptor's name runs off the file: the first DLL was found.
    std::vector<std::uint8_t> bytes = image;
    bytes.resize(layout.dllNameOffsets[1] + 3);
    const Result r = runBytes(bytes);
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.found, std::vector<std::string>{listed("tvlok.dll")});
    EXPECT_EQ(r.errors, std::vector<std::string>{wrong()});
}

TEST_F(Hostile, WrappingZeroSizeAndOverlappingSections) {
    pew::Image img;
    img.import("tvlok.dll");
    // A zero-size section claiming the import RVA holds nothing; a section
    // whose end wraps past 4 GiB must not hold low RVAs either.
    img.extraSectionsFirst.push_back({0x1000, 0, 0, 0});
    img.extraSectionsFirst.push_back({0xFFFFF000u, 0x00002000u, 0, 0x200});
    Result r = run(write("wrap.exe", pew::build(img)));
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.found, std::vector<std::string>{listed("tvlok.dll")});

    // Overlapping sections: the first in table order wins, here one whose
    // raw data lies past the end of the file.
    pew::Image overlap;
    overlap.import("tvlok.dll");
    overlap.extraSectionsFirst.push_back({0x1000, 0x1000, 0x7FFFFFF0u, 0x200});
    r = run(write("overlap.exe", pew::build(overlap)));
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.errors, std::vector<std::string>{dir.file("overlap.exe") + kNotWin32});
}

TEST_F(Hostile, ControlCharactersInNamesCannotForgeLines) {
    std::vector<std::uint8_t> bytes = image;
    bytes[layout.dllNameOffsets[0] + 2] = '\n';
    const Result r = runBytes(bytes);
    ASSERT_FALSE(r.errors.empty());
    EXPECT_EQ(r.errors.front().find('\n'), std::string::npos);
    EXPECT_EQ(r.errors.front().rfind("tv?ok.dll invisible pour ", 0), 0u);
}
