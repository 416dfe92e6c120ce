// DLLs that LLVM's linker makes, against llvm-readobj's reading of the same
// files: DependentLoadFlags as the linker sets them in both layouts, and the
// ARM64X view of a hybrid DLL (native ARM64 and ARM64EC halves, each with
// imports of its own): the EC view's machine, data directories and import
// descriptors after the ARM64X fixups. Native only, with LLVM 22.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "inspect/pe/arm64x.h"
#include "inspect/pe/loadconfig.h"
#include "inspect/pe/mapping.h"
#include "tests/support/testutil.h"

namespace {

const std::string kLlvm = "/usr/lib/llvm-22/bin/";

// "Key: Value" lines of llvm-readobj, the first of each key.
std::map<std::string, std::string> fields(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::size_t start = line.find_first_not_of(' ');
        out.emplace(line.substr(start, colon - start), line.substr(colon + 2));
    }
    return out;
}

std::uint64_t number(const std::string& s) { return std::stoull(s, nullptr, 0); }

struct Descriptor {
    std::string name;
    std::uint64_t lookup = 0, addresses = 0;
};
std::vector<Descriptor> descriptors(const std::string& text) {
    std::vector<Descriptor> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' '));
        const std::string value = line.substr(colon + 2);
        if (key == "Name" && value.size() > 4 && value.compare(value.size() - 4, 4, ".dll") == 0)
            out.push_back({value});
        if (out.empty()) continue;
        if (key == "ImportLookupTableRVA") out.back().lookup = number(value);
        if (key == "ImportAddressTableRVA") out.back().addresses = number(value);
    }
    return out;
}

bool haveLlvm() {
    for (const char* tool : {"clang", "lld-link", "llvm-mc", "llvm-lib", "llvm-readobj"})
        if (!testutil::haveCommand(kLlvm + tool)) return false;
    return true;
}

std::vector<std::uint8_t> load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

TEST(Lld, DependentLoadFlagsAsTheLinkerSetsThem) {
    if (!haveLlvm()) GTEST_SKIP() << "no LLVM 22";
    testutil::TempDir dir;
    const std::string src = LLD_SOURCES;
    for (const bool plus : {false, true})
        for (const unsigned flags : {0x100u, 0x800u, 0x1000u | 0x200u}) {
            const std::string cmd = "cd '" + dir.path() + "' && L=" + kLlvm + " && " +
                                    "$L/llvm-mc -triple=" + (plus ? "x86_64" : "i686") +
                                    "-pc-windows-msvc -filetype=obj '" + src + (plus ? "/config64.s" : "/config32.s") +
                                    "' -o c.obj && $L/lld-link /machine:" + (plus ? "x64" : "x86 /safeseh:no") +
                                    " /dll /noentry /nodefaultlib /dependentloadflag:" + std::to_string(flags) +
                                    " /out:d.dll c.obj && $L/llvm-readobj --coff-load-config d.dll";
            const auto theirs = fields(testutil::capture(cmd + " 2>&1"));
            ASSERT_TRUE(theirs.count("DependentLoadFlags")) << cmd;
            const std::vector<std::uint8_t> bytes = load(dir.file("d.dll"));
            const platform::MemoryByteSource source(bytes.data(), bytes.size());
            platform::PeImage image(source);
            const pe::LoadConfig config = pe::readLoadConfig(image);
            EXPECT_EQ(config.plus, plus);
            EXPECT_EQ(config.size, number(theirs.at("Size")));
            EXPECT_EQ(config.dependentLoadFlags, number(theirs.at("DependentLoadFlags")));
            EXPECT_EQ(config.dependentLoadFlags, flags);
        }
}

TEST(Lld, TheArm64xEcViewIsTheOneLlvmReads) {
    if (!haveLlvm()) GTEST_SKIP() << "no LLVM 22";
    testutil::TempDir dir;
    const std::string src = LLD_SOURCES;
    const std::string build =
        "cd '" + dir.path() + "' && L=" + kLlvm + " && S='" + src + "' && " +
        "$L/clang --target=aarch64-pc-windows-msvc -O1 -c $S/native.c -o native.obj && "
        "$L/clang --target=arm64ec-pc-windows-msvc -O1 -c $S/ec.c -o ec.obj && "
        "$L/llvm-mc -triple=aarch64-pc-windows-msvc -filetype=obj $S/native_config.s -o native_config.obj && "
        "$L/llvm-mc -triple=arm64ec-pc-windows-msvc -filetype=obj $S/ec_runtime.s -o ec_runtime.obj && "
        "$L/llvm-lib /machine:arm64x /def:$S/kernel32.def /defArm64Native:$S/kernel32.def /out:kernel32.lib && "
        "$L/llvm-lib /machine:arm64 /def:$S/nativeonly.def /out:nativeonly.lib && "
        "$L/llvm-lib /machine:arm64ec /def:$S/econly.def /out:econly.lib && "
        "$L/lld-link /machine:arm64x /dll /noentry /nodefaultlib /out:hybrid.dll native.obj native_config.obj "
        "ec.obj ec_runtime.obj kernel32.lib nativeonly.lib econly.lib && "
        "$L/lld-link /machine:arm64ec /dll /noentry /nodefaultlib /out:ec.dll ec.obj ec_runtime.obj kernel32.lib "
        "econly.lib && echo built";
    ASSERT_NE(testutil::capture(build + " 2>&1").find("built"), std::string::npos);

    const std::vector<std::uint8_t> bytes = load(dir.file("hybrid.dll"));
    const platform::MemoryByteSource source(bytes.data(), bytes.size());
    platform::PeImage image(source);
    EXPECT_EQ(pe::checkMapping(image).outcome, pe::Mapping::Outcome::Mappable);
    const pe::LoadConfig config = pe::readLoadConfig(image);
    const pe::CodeView view = pe::readCodeView(image, config);
    ASSERT_EQ(view.kind, pe::CodeView::Kind::Arm64x);
    ASSERT_EQ(view.outcome, pe::CodeView::Outcome::Read) << view.reason;

    const std::string text = testutil::capture(
        kLlvm + "llvm-readobj --file-headers --coff-imports --coff-load-config '" + dir.file("hybrid.dll") + "'");
    const std::size_t hybrid = text.find("HybridObject {");
    ASSERT_NE(hybrid, std::string::npos);
    const auto native = fields(text.substr(0, hybrid)), ec = fields(text.substr(hybrid));
    EXPECT_EQ(config.chpeMetadataPointer, number(native.at("CHPEMetadataPointer")));
    EXPECT_EQ(config.dynamicValueRelocTableOffset, number(native.at("DynamicValueRelocTableOffset")));
    EXPECT_EQ(config.dynamicValueRelocTableSection, number(native.at("DynamicValueRelocTableSection")));
    EXPECT_EQ(view.ecMachine, pe::kMachineAmd64);
    const char* const names[] = {"ExportTable",
                                 "ImportTable",
                                 "ResourceTable",
                                 "ExceptionTable",
                                 "CertificateTable",
                                 "BaseRelocationTable",
                                 "Debug",
                                 "Architecture",
                                 "GlobalPtr",
                                 "TLSTable",
                                 "LoadConfigTable",
                                 "BoundImport",
                                 "IAT",
                                 "DelayImportDescriptor",
                                 "CLRRuntimeHeader",
                                 "Reserved"};
    for (unsigned i = 0; i < 16; ++i) {
        EXPECT_EQ(view.directories[i].rva, number(ec.at(std::string(names[i]) + "RVA"))) << names[i];
        EXPECT_EQ(view.directories[i].size, number(ec.at(std::string(names[i]) + "Size"))) << names[i];
    }
    // The EC view's descriptors: the readers of other tables patch what
    // they read with the fixups outside the headers.
    const std::vector<Descriptor> expected = descriptors(text.substr(hybrid));
    ASSERT_EQ(expected.size(), 3u);
    const pe::HeaderFields h = pe::headerFields(image);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::uint8_t d[20];
        ASSERT_EQ(pe::readMapped(image, h, view.import.rva + 20 * i, d, sizeof d), sizeof d);
        EXPECT_TRUE(view.patch(view.import.rva + 20 * i, d, sizeof d));
        std::uint32_t lookup = 0, addresses = 0;
        platform::MemoryByteSource(d, sizeof d).u32(0, lookup);
        platform::MemoryByteSource(d, sizeof d).u32(16, addresses);
        EXPECT_EQ(lookup, expected[i].lookup) << expected[i].name;
        EXPECT_EQ(addresses, expected[i].addresses) << expected[i].name;
    }

    const std::vector<std::uint8_t> pure = load(dir.file("ec.dll"));
    const platform::MemoryByteSource pureSource(pure.data(), pure.size());
    platform::PeImage pureImage(pureSource);
    EXPECT_EQ(pe::readCodeView(pureImage, pe::readLoadConfig(pureImage)).kind, pe::CodeView::Kind::Arm64ec);
}
