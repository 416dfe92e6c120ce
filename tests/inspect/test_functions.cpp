// Will it load: the imported functions against the found DLLs' exports (by
// name, by ordinal, through forwarders and API sets), the delay-load table,
// and the same images under hostile tables.
#include <gtest/gtest.h>

#include <algorithm>

#include "inspect/analysis.h"
#include "inspect/uimports.h"
#include "platform/platform.h"
#include "tests/support/inspection.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

namespace {

class Functions : public ::testing::Test {
protected:
    struct Options {
        bool recursive = false, functions = false, delayLoad = false;
    };
    // The importer's folder, then `folders` only.
    RunOptions run(Options o) const { return testutil::only(folders, o.recursive, o.functions, o.delayLoad); }
    std::string write(const std::string& name, const pew::Image& img, const std::string& folder = {}) {
        const std::string path = platform::joinPath(folder.empty() ? dir.path() : folder, name);
        pew::writeFile(path, pew::build(img));
        return platform::listPath(path);
    }
    static pew::Image image(bool plus) {
        pew::Image img;
        img.pe32plus = plus;
        return img;
    }
    testutil::Flat inspect(const std::string& path, Options o) const { return testutil::inspect(path, run(o)); }
    testutil::TempDir dir;
    std::vector<std::string> folders;
};

std::vector<std::string> lines(const testutil::Flat& r) { return r.errors; }

}  // namespace

// An older DLL lacks what the program imports: by name, by ordinal, and a
// forwarder whose target lacks it; the lines come after the DLL's own lines,
// in import order, for PE32 and PE32+ alike.
TEST_F(Functions, WhatAnOlderDllLacksByNameOrdinalAndForwarder) {
    for (bool plus : {false, true}) {
        const std::string sub = dir.mkdir(plus ? "plus" : "pe32");
        pew::Image target = image(plus);
        target.exporting({"Moved"});
        write("tvlnew.dll", target, sub);
        pew::Image old = image(plus);
        old.exporting({"Open", "Close"});
        old.exports.push_back({"Forwarded", "tvlnew.Moved", false});
        old.exports.push_back({"Lost", "tvlnew.Gone", false});
        old.exports.push_back({"ByNumber", "TVLNEW.#1", false});
        old.exports.push_back({{}, {}, false});  // ordinal 6, no name
        old.exports.push_back({"Hole", {}, true});
        old.import("tvlgone.dll");
        const std::string oldPath = write("tvlold.dll", old, sub);
        pew::Image prog = image(plus);
        prog.import("TVLOLD.DLL", {{"Open"}, {"Save"}, pew::ordinal(2), pew::ordinal(6), pew::ordinal(99), {"Forwarded"},
                                   {"Lost"}, {"ByNumber"}, {"Hole"}, pew::ordinal(7), {"open"}});
        prog.import("tvlnew.dll", {{"Moved"}});
        const std::string exe = write("prog.exe", prog, sub);

        const std::string tail = " absente de " + oldPath + " pour " + exe;
        const std::vector<std::string> expected = {"Save" + tail,
                                                   "#99" + tail,
                                                   "Lost" + tail + " (renvoi vers tvlnew.Gone)",
                                                   "Hole" + tail,
                                                   "#7" + tail,
                                                   "open" + tail};
        const testutil::Flat direct = inspect(exe, {false, true, false});
        EXPECT_TRUE(direct.done);
        EXPECT_EQ(direct.found.size(), 2u);
        EXPECT_EQ(lines(direct), expected) << plus;
        EXPECT_EQ(direct.problems, std::vector<Problem>(expected.size(), Problem::MissingFunction));

        // With the closure, tvlold.dll's own line comes first.
        std::vector<std::string> closure = {"tvlgone.dll invisible pour " + oldPath};
        closure.insert(closure.end(), expected.begin(), expected.end());
        EXPECT_EQ(lines(inspect(exe, {true, true, false})), closure);
        // Without the option, nothing of it.
        EXPECT_TRUE(inspect(exe, {false, false, false}).errors.empty());
    }
}

#ifndef _WIN32
// An API set name's functions are those of its host; a forwarder to an API
// set goes through the schema too.
TEST_F(Functions, ApiSetFunctionsAreCheckedAgainstTheirHost) {
    const std::string sys = dir.mkdir("sys");
    pew::Image schema = image(true);
    schema.dataSections.emplace_back(".apiset", pew::apiSetSchema(6, {{"api-ms-win-tvl-l1-1-0", {{"", "tvlhost.dll"}}}}));
    write("apisetschema.dll", schema, sys);
    pew::Image host = image(true);
    host.exporting({"Here"});
    const std::string hostPath = write("tvlhost.dll", host, sys);
    pew::Image shim = image(true);
    shim.exports.push_back({"ViaSet", "api-ms-win-tvl-l1-1-0.Here", false});
    shim.exports.push_back({"ViaSetGone", "api-ms-win-tvl-l1-1-0.Nowhere", false});
    const std::string shimPath = write("tvlshim.dll", shim, sys);
    pew::Image prog = image(true);
    prog.import("api-ms-win-tvl-l1-1-0.dll", {{"Here"}, {"NotHere"}});
    prog.import("tvlshim.dll", {{"ViaSet"}, {"ViaSetGone"}});
    const std::string exe = write("prog.exe", prog);
    folders = {sys};
    const testutil::Flat r = inspect(exe, {false, true, false});
    EXPECT_EQ(r.found, (std::vector<std::string>{hostPath, shimPath}));
    EXPECT_EQ(lines(r), (std::vector<std::string>{
                            "NotHere absente de " + hostPath + " pour " + exe,
                            "ViaSetGone absente de " + shimPath + " pour " + exe +
                                " (renvoi vers api-ms-win-tvl-l1-1-0.Nowhere)"}));
}
#endif

// Delay-loaded DLLs: found ones become rows whose closure follows, missing
// ones say so; the old address form reads as the RVA form.
TEST_F(Functions, DelayLoadedDllsPresentAndMissing) {
    for (bool addresses : {false, true}) {
        const std::string sub = dir.mkdir(addresses ? "va" : "rva");
        pew::Image late = image(false);
        late.exporting({"Hello"});
        late.import("tvldeep.dll");
        const std::string latePath = write("tvllate.dll", late, sub);
        const std::string deepPath = write("tvldeep.dll", image(false), sub);
        const std::string corePath = write("tvlcore.dll", image(false), sub);
        pew::Image prog = image(false);
        prog.delayAddresses = addresses;
        prog.import("tvlcore.dll");
        prog.delayImport("tvllate.dll", {{"Hello"}, {"Bye"}}).delayImport("tvlabsent.dll", {{"X"}});
        prog.delayImport("tvlcore.dll");  // also a plain import: loaded at start
        const std::string exe = write("prog.exe", prog, sub);

        EXPECT_EQ(inspect(exe, {true, true, false}).found, std::vector<std::string>{corePath});
        const testutil::Flat r = inspect(exe, {true, true, true});
        EXPECT_EQ(r.found, (std::vector<std::string>{corePath, latePath, deepPath}));
        EXPECT_EQ(r.foundDelayLoaded, (std::vector<bool>{false, true, true}));
        EXPECT_EQ(lines(r), (std::vector<std::string>{
                                "Bye absente de " + latePath + " pour " + exe + " (chargement différé)",
                                "tvlabsent.dll invisible pour " + exe + " (chargement différé)"}))
            << addresses;
        EXPECT_EQ(r.problems, (std::vector<Problem>{Problem::MissingFunction, Problem::MissingDll}));
        EXPECT_EQ(r.errorsDelayLoaded, (std::vector<bool>{true, true}));
        // Rows: the delay-loaded ones are marked.
        const std::vector<analysis::Row> rows = analysis::analyse({exe}, run({true, false, true}));
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_FALSE(rows[1].delayLoad);
        EXPECT_TRUE(rows[2].delayLoad);
        EXPECT_EQ(rows[4].problem, Problem::MissingDll);
        EXPECT_TRUE(rows[4].delayLoad);
    }
}

// The tables the options read change nothing while the options are off:
// the same rows as the image without them.
TEST_F(Functions, WithTheOptionsOffTheNewTablesChangeNothing) {
    const std::string plain = dir.mkdir("plain"), full = dir.mkdir("full");
    for (const std::string& sub : {plain, full}) {
        const bool tables = sub == full;
        pew::Image lib = image(true);
        if (tables) lib.exporting({"A"}).delayImport("tvlother.dll", {{"B"}});
        write("tvllib.dll", lib, sub);
        pew::Image prog = image(true);
        prog.import("tvllib.dll", tables ? std::vector<pew::Function>{{"A"}, {"Z"}} : std::vector<pew::Function>{});
        prog.import("tvlgone.dll");
        if (tables) prog.delayImport("tvlabsent.dll", {{"C"}});
        write("prog.exe", prog, sub);
    }
    for (bool recursive : {false, true}) {
        // Listed as the window and the command line list them (lowered on Windows).
        std::vector<analysis::Row> a = analysis::analyse({platform::listPath(platform::joinPath(plain, "prog.exe"))}, run({recursive}));
        std::vector<analysis::Row> b = analysis::analyse({platform::listPath(platform::joinPath(full, "prog.exe"))}, run({recursive}));
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            for (std::string* c : {&a[i].cells[analysis::kPath], &b[i].cells[analysis::kPath]})
                for (const std::string& from : {platform::listPath(plain), platform::listPath(full)})
                    for (std::size_t at; (at = c->find(from)) != std::string::npos;) c->replace(at, from.size(), "<dir>");
            EXPECT_EQ(a[i].cells, b[i].cells) << i;
            EXPECT_EQ(a[i].problem, b[i].problem);
            EXPECT_FALSE(b[i].delayLoad);
        }
    }
}

// Hostile tables: every one a line, at the size of the file.
TEST_F(Functions, HostileTablesGiveALineAndStaySmall) {
    const auto damaged = [&](const std::string& name, const pew::Image& img, auto&& damage) {
        pew::Layout layout;
        std::vector<std::uint8_t> bytes = pew::build(img, &layout);
        damage(bytes, layout);
        pew::writeFile(dir.file(name), bytes);
        return platform::listPath(dir.file(name));
    };
    const auto notPe = [](const std::string& path) { return path + " n'est pas un exécutable Win32"; };

    // A lookup table that runs off the end of the file.
    pew::Image prog = image(false);
    prog.import("tvllib.dll", {{"A"}, {"B"}});
    const std::string runsOff = damaged("runsoff.exe", prog, [](auto& b, const pew::Layout& l) {
        std::fill(b.begin() + l.thunkOffsets[0], b.end(), 0x41);
    });
    const testutil::Flat r1 = inspect(runsOff, {false, true, false});
    EXPECT_FALSE(r1.done);
    EXPECT_EQ(r1.errors.back(), notPe(runsOff));
    EXPECT_TRUE(inspect(runsOff, {false, false, false}).done);  // the names alone read well

    // An export table claiming millions of names, and one whose names all
    // point at one long run of bytes (each read up to its end): the DLL's own
    // line stands for its functions, once.
    pew::Image lib = image(false);
    lib.exporting({"A", "B"});
    const std::string millions = damaged("tvlmillions.dll", lib, [](auto& b, const pew::Layout& l) {
        pew::put32(b, l.exportDirectory + 24, 50000000);
    });
    pew::Image longNames = image(false);
    for (int i = 0; i < 3000; ++i) longNames.exports.push_back({"n" + std::to_string(i), {}, false});
    const std::string overlapping = damaged("tvloverlap.dll", longNames, [](auto& b, const pew::Layout& l) {
        std::uint32_t names = 0;
        for (int k = 0; k < 4; ++k) names |= static_cast<std::uint32_t>(b[l.exportDirectory + 32 + k]) << (8 * k);
        const std::uint32_t namesAt = names - l.importSectionRva + l.importSectionRaw;
        for (int i = 0; i < 3000; ++i) pew::put32(b, namesAt + 4 * i, l.exportNamesRva);
        const std::uint32_t first = l.exportNamesRva - l.importSectionRva + l.importSectionRaw;
        std::fill(b.begin() + first, b.end() - 1, 'x');
    });
    // Forwarders: one that runs off the file, two that lead to each other.
    pew::Image fwd = image(false);
    fwd.exports.push_back({"Loop", "tvlcycle.Loop", false});
    fwd.exports.push_back({"Endless", "tvlcycle.Endless", false});
    const std::string cycle = write("tvlcycle.dll", fwd);
    pew::Image user = image(false);
    user.import("tvlmillions.dll", {{"A"}, {"B"}}).import("tvloverlap.dll", {{"n1"}});
    user.import("tvlcycle.dll", {{"Loop"}, pew::ordinal(0), pew::ordinal(65535)});
    const std::string exe = write("user.exe", user);
    const testutil::Flat r2 = inspect(exe, {true, true, false});
    EXPECT_TRUE(r2.done);
    EXPECT_EQ(lines(r2), (std::vector<std::string>{
                             notPe(millions), notPe(overlapping),
                             "Loop absente de " + cycle + " pour " + exe + " (renvoi vers tvlcycle.Loop)",
                             "#0 absente de " + cycle + " pour " + exe, "#65535 absente de " + cycle + " pour " + exe}));

    const std::string endless = damaged("tvlendless.dll", fwd, [](auto& b, const pew::Layout&) {
        const std::string text = "tvlcycle.Endless";
        std::replace(std::search(b.begin(), b.end(), text.begin(), text.end()), b.end(), std::uint8_t(0),
                     std::uint8_t('y'));
    });
    pew::Image user2 = image(false);
    user2.import("tvlendless.dll", {{"Loop"}});
    EXPECT_EQ(lines(inspect(write("user2.exe", user2), {false, true, false})),
              std::vector<std::string>{notPe(endless)});
}
