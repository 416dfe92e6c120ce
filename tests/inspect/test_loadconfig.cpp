// The load configuration, the ARM64EC/ARM64X view, the hardening flags and
// the mapping check on images written by the test writer, and the mapping
// check on Wine's own DLLs, whole and cut short.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "inspect/pe/arm64x.h"
#include "inspect/pe/hardening.h"
#include "inspect/pe/loadconfig.h"
#include "inspect/pe/mapping.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"

namespace {

// A source cut to its first `size` bytes, as `head -c` leaves a file.
class Cut : public platform::ByteSource {
public:
    Cut(const platform::ByteSource& whole, std::uint64_t size) : whole_(whole), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override {
        return has(offset, count) && whole_.read(offset, out, count);
    }

private:
    const platform::ByteSource& whole_;
    std::uint64_t size_;
};

struct Loaded {
    explicit Loaded(std::vector<std::uint8_t> b, std::size_t keep = SIZE_MAX)
        : bytes(std::move(b)), source(bytes.data(), std::min(keep, bytes.size())), image(source) {
        config = pe::readLoadConfig(image);
    }
    std::vector<std::uint8_t> bytes;
    platform::MemoryByteSource source;
    platform::PeImage image;
    pe::LoadConfig config;
};

pew::Image withConfig(bool plus, pew::LoadConfig config = {}) {
    pew::Image img;
    img.pe32plus = plus;
    img.import("kernel32.dll");
    img.loadConfig = config;
    return img;
}

pew::Image arm64x(std::vector<std::string> ecImports) {
    pew::Image img = withConfig(true);
    img.machine = 0xAA64;
    img.import("native.dll");
    img.arm64x = pew::Arm64x{};
    img.arm64x->ecImports = std::move(ecImports);
    return img;
}

std::string nameAt(const Loaded& l, std::uint32_t rva) {
    const pe::HeaderFields h = pe::headerFields(l.image);
    char name[32] = {};
    pe::readMapped(l.image, h, rva, reinterpret_cast<std::uint8_t*>(name), sizeof name - 1);
    return name;
}

}  // namespace

TEST(LoadConfig, DependentLoadFlagsInBothLayouts) {
    for (bool plus : {false, true})
        for (std::uint16_t flags : {0x100, 0x200, 0x400, 0x800, 0x1000, 0x800 | 0x200 | 0x100}) {
            pew::LoadConfig c;
            c.dependentLoadFlags = flags;
            const Loaded l(pew::build(withConfig(plus, c)));
            ASSERT_EQ(l.config.outcome, pe::LoadConfig::Outcome::Read) << l.config.reason;
            EXPECT_EQ(l.config.plus, plus);
            EXPECT_EQ(l.config.dependentLoadFlags, flags) << plus;
        }
}

TEST(LoadConfig, AFieldExistsOnlyWhenSizeCoversIt) {
    // DependentLoadFlags ends at 0x38 (PE32) and 0x50 (PE32+).
    for (bool plus : {false, true}) {
        const std::uint32_t end = plus ? 0x50 : 0x38;
        pew::LoadConfig c;
        c.dependentLoadFlags = 0x800;
        c.seHandlerTable = 0x10001000;
        c.size = end - 1;
        const Loaded shortOne(pew::build(withConfig(plus, c)));
        EXPECT_EQ(shortOne.config.outcome, pe::LoadConfig::Outcome::Read);
        EXPECT_FALSE(shortOne.config.dependentLoadFlags);
        EXPECT_FALSE(shortOne.config.seHandlerTable);
        c.size = end;
        const Loaded enough(pew::build(withConfig(plus, c)));
        EXPECT_EQ(enough.config.dependentLoadFlags, 0x800);
        EXPECT_FALSE(enough.config.seHandlerTable);
        // A directory shorter than Size bounds the fields too...
        c.size = 0x100;
        c.directorySize = end - 1;
        EXPECT_FALSE(Loaded(pew::build(withConfig(plus, c))).config.dependentLoadFlags);
    }
    // ...except the 64 bytes x86 linkers write there for Windows XP.
    pew::LoadConfig xp;
    xp.directorySize = 64;
    xp.seHandlerTable = 0x10002000;
    xp.seHandlerCount = 3;
    const Loaded l(pew::build(withConfig(false, xp)));
    EXPECT_EQ(l.config.seHandlerCount, 3u);
    EXPECT_EQ(l.config.size, 0xC0u);
}

TEST(LoadConfig, AbsentOrDamagedIsAnOutcome) {
    EXPECT_EQ(Loaded(pew::build(pew::Image{})).config.outcome, pe::LoadConfig::Outcome::Absent);
    EXPECT_EQ(Loaded({'M', 'Z'}).config.outcome, pe::LoadConfig::Outcome::NotImage);
    pew::Layout layout;
    const std::vector<std::uint8_t> bytes = pew::build(withConfig(true, {}), &layout);
    // The file ends inside the structure: what it holds is read, no more.
    const Loaded cut(bytes, layout.loadConfig + 0x52);
    EXPECT_EQ(cut.config.outcome, pe::LoadConfig::Outcome::Damaged);
    EXPECT_TRUE(cut.config.dependentLoadFlags);
    EXPECT_FALSE(cut.config.securityCookie);
    // A Size past SizeOfImage, a directory outside the image.
    pew::LoadConfig huge;
    huge.size = 0x7FFFFFF0;
    huge.directorySize = 0x140;
    EXPECT_EQ(Loaded(pew::build(withConfig(true, huge))).config.outcome, pe::LoadConfig::Outcome::Damaged);
    std::vector<std::uint8_t> outside = bytes;
    pew::put32(outside, layout.importDataDirectory + 9 * 8, 0x7FFF0000);
    EXPECT_EQ(Loaded(outside).config.outcome, pe::LoadConfig::Outcome::Damaged);
}

TEST(Hardening, FlagsOnAndOff) {
    using S = pe::Hardening::State;
    const auto hardening = [](const pew::Image& img) {
        const Loaded l(pew::build(img));
        return pe::readHardening(l.image, l.config);
    };
    pew::Image x86;  // DYNAMIC_BASE | NX_COMPAT, no load configuration
    pe::Hardening h = hardening(x86);
    EXPECT_EQ(h.aslr, S::On);
    EXPECT_EQ(h.highEntropyVa, S::NotApplicable);
    EXPECT_EQ(h.dep, S::On);
    EXPECT_EQ(h.safeSeh, S::Off);
    EXPECT_EQ(h.missing, (std::vector<std::string>{"CFG", "SafeSEH"}));
    x86.dllCharacteristics = 0x0400;  // NO_SEH alone
    h = hardening(x86);
    EXPECT_EQ(h.safeSeh, S::On);
    EXPECT_EQ(h.missing, (std::vector<std::string>{"ASLR", "DEP", "CFG"}));

    pew::LoadConfig seh;
    seh.seHandlerTable = 0x10003000;
    seh.seHandlerCount = 2;
    EXPECT_EQ(hardening(withConfig(false, seh)).safeSeh, S::On);

    pew::LoadConfig cf;
    cf.guardCfFunctionTable = 0x180004000;
    cf.guardCfFunctionCount = 5;
    cf.guardFlags = pe::kGuardCfInstrumented;
    pew::Image x64 = withConfig(true, cf);
    x64.dllCharacteristics = 0x4000 | 0x0040 | 0x0020;  // no NX_COMPAT: 64-bit processes have DEP anyway
    h = hardening(x64);
    EXPECT_EQ(h.cfg, S::On);
    EXPECT_EQ(h.highEntropyVa, S::On);
    EXPECT_EQ(h.dep, S::On);
    EXPECT_EQ(h.safeSeh, S::NotApplicable);
    EXPECT_TRUE(h.missing.empty());
    // The flag without the table or the instrumented mark is no guard.
    x64.loadConfig->guardFlags = 0;
    EXPECT_EQ(hardening(x64).cfg, S::Off);
    x64.loadConfig = pew::LoadConfig{};
    EXPECT_EQ(hardening(x64).cfg, S::Off);
}

TEST(CodeView, PlainArm64ecAndArm64x) {
    using K = pe::CodeView::Kind;
    const Loaded plain(pew::build(withConfig(true)));
    EXPECT_EQ(pe::readCodeView(plain.image, plain.config).kind, K::Plain);
    pew::LoadConfig chpe;
    chpe.chpeMetadataPointer = 0x180002000;
    const Loaded ec(pew::build(withConfig(true, chpe)));
    const pe::CodeView ecView = pe::readCodeView(ec.image, ec.config);
    EXPECT_EQ(ecView.kind, K::Arm64ec);
    EXPECT_EQ(ecView.ecMachine, 0x8664);

    for (std::uint32_t version : {1u, 2u}) {
        pew::Image img = arm64x({"ec-only.dll", "both.dll"});
        img.arm64x->version = version;
        const Loaded x(pew::build(img));
        const pe::CodeView v = pe::readCodeView(x.image, x.config);
        ASSERT_EQ(v.outcome, pe::CodeView::Outcome::Read) << v.reason;
        EXPECT_EQ(v.kind, K::Arm64x);
        EXPECT_EQ(v.machine, 0xAA64);
        EXPECT_EQ(v.ecMachine, 0x8664);
        EXPECT_EQ(v.import.size, 3u * 20);
        std::uint32_t name = 0;
        const pe::HeaderFields h = pe::headerFields(x.image);
        std::uint8_t d[20];
        ASSERT_EQ(pe::readMapped(x.image, h, v.import.rva, d, sizeof d), sizeof d);
        platform::MemoryByteSource(d, sizeof d).u32(12, name);
        EXPECT_EQ(nameAt(x, name), "ec-only.dll");
        // The native view keeps its own directory.
        const std::uint32_t rva = x.image.directory(1).rva;
        EXPECT_NE(rva, v.import.rva);
    }
}

TEST(CodeView, Arm64xFixupsOutsideTheHeaders) {
    pew::Image img = arm64x({});
    const std::uint32_t target = 0x1000;                                   // the native import descriptors
    img.arm64x->extra = {{target, 2, 4, static_cast<std::uint64_t>(-16)},  // delta
                         {target + 12, 1, 4, 0x11223344},                  // value
                         {target + 16, 0, 4, 0},                           // zero fill
                         {target + 8, 1, 8, 0x5555555566666666}};          // over the value: table order wins
    const Loaded x(pew::build(img));
    const pe::CodeView v = pe::readCodeView(x.image, x.config);
    ASSERT_EQ(v.fixups.size(), 4u);
    std::uint8_t d[20] = {0x40, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(v.patch(target, d, sizeof d));
    std::uint32_t first = 0, name = 0, last = 1;
    const platform::MemoryByteSource b(d, sizeof d);
    b.u32(0, first), b.u32(12, name), b.u32(16, last);
    EXPECT_EQ(first, 0x1030u);
    EXPECT_EQ(name, 0x55555555u);
    EXPECT_EQ(last, 0u);
    // A delta whose low bytes were not given cannot be applied.
    EXPECT_FALSE(v.patch(target + 2, d, 4));
}

TEST(CodeView, Arm64xWithoutUsableRelocations) {
    using O = pe::CodeView::Outcome;
    pew::Image shortConfig = arm64x({"ec.dll"});
    shortConfig.loadConfig->size = 0xE4;  // DynamicValueRelocTableSection left out
    Loaded l(pew::build(shortConfig));
    pe::CodeView v = pe::readCodeView(l.image, l.config);
    EXPECT_EQ(v.outcome, O::NoTable);
    EXPECT_EQ(v.ecMachine, 0xAA64);

    pew::Layout layout;
    std::vector<std::uint8_t> bytes = pew::build(arm64x({"ec.dll"}), &layout);
    pew::put32(bytes, layout.arm64xTable, 3);  // an unknown table version
    const Loaded unknown(bytes);
    EXPECT_EQ(pe::readCodeView(unknown.image, unknown.config).outcome, O::NoTable);
    bytes = pew::build(arm64x({"ec.dll"}), &layout);
    pew::put32(bytes, layout.arm64xTable + 8 + 12 + 4, 0x7FFFFFF0);  // the first block's size
    const Loaded damaged(bytes);
    v = pe::readCodeView(damaged.image, damaged.config);
    EXPECT_EQ(v.outcome, O::Damaged);
    EXPECT_EQ(v.ecMachine, 0xAA64);
}

TEST(Mapping, HeaderAndSectionRules) {
    using P = pe::Mapping::Problem;
    const auto problem = [](const std::vector<std::uint8_t>& bytes) {
        const Loaded l(bytes);
        return pe::checkMapping(l.image).problem;
    };
    pew::Layout layout;
    const std::vector<std::uint8_t> good = pew::build(pew::Image{}.import("a.dll"), &layout);
    EXPECT_EQ(problem(good), P::None);
    const std::uint32_t oh = layout.optionalHeader, sh = layout.sectionTable;
    const auto changed = [&](std::uint32_t at, std::uint32_t value, bool wide = true) {
        std::vector<std::uint8_t> b = good;
        wide ? pew::put32(b, at, value) : pew::put16(b, at, static_cast<std::uint16_t>(value));
        return b;
    };
    EXPECT_EQ(problem({'M', 'Z'}), P::NotMz);
    EXPECT_EQ(problem(changed(layout.ntHeaders, 0x4550 + 1)), P::NoPeSignature);
    EXPECT_EQ(problem(changed(oh, 0x20B, false)), P::MachineMismatch);
    EXPECT_EQ(problem(changed(layout.ntHeaders + 4, 0x0200, false)), P::UnknownMachine);
    EXPECT_EQ(problem(changed(oh + 32, 0)), P::ZeroSectionAlignment);
    EXPECT_EQ(problem(changed(oh + 56, 0x1000)), P::SectionPastImage);
    EXPECT_EQ(problem(changed(layout.ntHeaders + 6, 0x200, false)), P::SectionTableOutsideImage);
    EXPECT_EQ(problem(changed(sh + 20, 0x100000)), P::SectionDataPastFile);
    EXPECT_EQ(problem(changed(oh + 32, 0x200)), P::FlatMisaligned);
    // ARM64 images must be relocatable and NX-compatible.
    pew::Image arm;
    arm.pe32plus = true;
    arm.machine = 0xAA64;
    EXPECT_EQ(problem(pew::build(arm)), P::None);
    arm.dllCharacteristics = 0x0040;
    EXPECT_EQ(problem(pew::build(arm)), P::ArmWithoutNx);
}

TEST(Mapping, WineDllsPassAndCutOnesFail) {
    std::size_t checked = 0, cuts = 0;
    for (const char* folder :
         {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            platform::FileReader file;
            if (!entry.is_regular_file() || file.open(entry.path().string()) != platform::MapStatus::Ok) continue;
            platform::PeImage image(file);
            const pe::Mapping m = pe::checkMapping(image);
            EXPECT_EQ(m.outcome, pe::Mapping::Outcome::Mappable) << entry.path() << ": " << m.reason;
            ++checked;
            // Every eighth file, cut inside each section's data, a sector
            // or more before its end: the loader refuses what is left.
            if (checked % 8) continue;
            const pe::HeaderFields h = pe::headerFields(image);
            pe::SectionHeader s;
            for (std::uint32_t i = 0; pe::sectionHeader(image, h, i, s); ++i) {
                const std::uint64_t mapped =
                    std::min<std::uint64_t>(s.rawSize, s.virtualSize ? s.virtualSize : s.rawSize);
                if (s.rawPointer == 0 || mapped < 0x400) continue;
                for (std::uint64_t at :
                     {std::uint64_t{s.rawPointer} + 1, s.rawPointer + mapped / 2, s.rawPointer + mapped - 0x201}) {
                    const Cut cut(file, at);
                    platform::PeImage shortImage(cut);
                    const pe::Mapping c = pe::checkMapping(shortImage);
                    EXPECT_EQ(c.problem, pe::Mapping::Problem::SectionDataPastFile) << entry.path() << " cut at " << at;
                    EXPECT_EQ(c.status, pe::kStatusInvalidImageFormat);
                    ++cuts;
                }
            }
        }
    }
    if (checked == 0) GTEST_SKIP() << "no Wine DLLs";
    EXPECT_GT(cuts, 100u);
}
