#include "inspect/pe/mapping.h"

#include <algorithm>
#include <new>

#include "inspect/pe/hardening.h"
#include "inspect/pe/imageview.h"

namespace pe {

namespace {

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPeSignature = 0x00004550;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kPageMask = 0xFFF;
// Raw data is read by 512-byte sectors whatever FileAlignment says: a
// section may end inside the file's last, partial sector.
constexpr std::uint64_t kSectorMask = 0x1FF;
constexpr std::uint64_t kSectionHeaderSize = 40;

std::uint64_t roundUp(std::uint64_t v, std::uint64_t mask) { return (v + mask) & ~mask; }

class Check {
public:
    explicit Check(Mapping& m) : m_(m) {}

    Mapping& refuse(Mapping::Problem problem, std::uint32_t status, std::string reason) {
        m_.outcome = Mapping::Outcome::Refused;
        m_.problem = problem;
        m_.status = status;
        m_.reason = std::move(reason);
        return m_;
    }
    Mapping& notPe(Mapping::Problem problem, std::uint32_t status, std::string reason) {
        refuse(problem, status, std::move(reason));
        m_.outcome = Mapping::Outcome::NotPe;
        return m_;
    }
    Mapping& refuseSection(int index, const SectionHeader& s, Mapping::Problem problem, std::uint32_t status,
                           std::string reason) {
        m_.section = index;
        m_.sectionName.assign(s.name, std::find(s.name, s.name + sizeof s.name, '\0'));
        return refuse(problem, status, std::move(reason));
    }

private:
    Mapping& m_;
};

bool is32BitMachine(std::uint16_t m) { return m == kMachineI386 || m == kMachineArmNt; }
bool is64BitMachine(std::uint16_t m) { return m == kMachineAmd64 || m == kMachineArm64; }

void check(const platform::PeImage& image, Mapping& m) {
    using P = Mapping::Problem;
    Check c(m);
    const platform::ByteSource& file = image.bytes();
    const std::uint64_t fileSize = file.size();
    if (fileSize == 0) return void(c.notPe(P::EmptyFile, kStatusInvalidFileForSection, "empty file"));
    std::uint16_t mz = 0;
    std::uint32_t lfanew = 0, signature = 0;
    if (!file.has(0, 64) || !file.u16(0, mz) || mz != kMz || !file.u32(0x3C, lfanew))
        return void(c.notPe(P::NotMz, kStatusInvalidImageNotMz, "no MZ header"));
    if (!file.has(lfanew, 24) || !file.u32(lfanew, signature) || signature != kPeSignature)
        return void(c.notPe(P::NoPeSignature, kStatusInvalidImageProtect, "no PE signature"));

    const HeaderFields h = headerFields(image);
    const std::uint16_t machine = image.machine();
    if (!h.valid) return void(c.refuse(P::UnknownMagic, kStatusInvalidImageFormat, "unknown optional header magic"));
    const bool plus = h.magic == kPe32PlusMagic;
    if (!is32BitMachine(machine) && !is64BitMachine(machine))
        return void(c.refuse(P::UnknownMachine, kStatusInvalidImageFormat, "unknown machine"));
    if (plus ? !is64BitMachine(machine) : !is32BitMachine(machine))
        return void(c.refuse(P::MachineMismatch, kStatusInvalidImageFormat,
                             plus ? "a 32-bit machine with a PE32+ header" : "a 64-bit machine with a PE32 header"));
    // Outside x86 and x64, Windows maps only page-aligned, relocatable,
    // NX-compatible images.
    if (machine != kMachineI386 && machine != kMachineAmd64) {
        if (h.sectionAlignment & kPageMask)
            return void(c.refuse(P::ArmSmallAlignment, kStatusInvalidImageFormat, "ARM sections below a page"));
        if (!(h.dllCharacteristics & kNxCompat))
            return void(c.refuse(P::ArmWithoutNx, kStatusInvalidImageFormat, "an ARM image without NX_COMPAT"));
        if (!(h.dllCharacteristics & kDynamicBase))
            return void(
                c.refuse(P::ArmWithoutDynamicBase, kStatusInvalidImageFormat, "an ARM image without DYNAMIC_BASE"));
    }
    if (h.sectionAlignment == 0)
        return void(c.refuse(P::ZeroSectionAlignment, kStatusInvalidImageFormat, "zero section alignment"));

    const std::uint64_t alignMask = std::max<std::uint64_t>(h.sectionAlignment - 1, kPageMask);
    const std::uint64_t imageSize = roundUp(h.sizeOfImage, alignMask);
    const std::uint64_t tableEnd = h.sectionTable + kSectionHeaderSize * h.sectionCount;
    if (tableEnd > imageSize)
        return void(c.refuse(P::SectionTableOutsideImage, kStatusInvalidFileForSection,
                             "the section table ends past SizeOfImage"));
    if (tableEnd > fileSize)
        return void(c.refuse(P::SectionTableCut, kStatusInvalidFileForSection, "the section table runs past the file"));
    // The headers the loader maps: SizeOfHeaders, stretched over the section
    // table, as far as the file goes, rounded up to the section alignment.
    const std::uint64_t headerEnd =
        roundUp(std::min(std::max<std::uint64_t>(h.sizeOfHeaders, tableEnd), fileSize), alignMask);
    if (h.ntHeaders + 24 + (plus ? 240 : 224) > headerEnd)
        return void(
            c.refuse(P::HeadersPastHeaderArea, kStatusInvalidImageFormat, "the NT headers end past the headers"));

    SectionHeader s;
    if (h.sectionAlignment & kPageMask) {
        // Below a page the file is mapped whole, as it is.
        if (h.fileAlignment != h.sectionAlignment)
            return void(c.refuse(P::FlatMisaligned, kStatusInvalidImageFormat,
                                 "sections below a page with FileAlignment unlike SectionAlignment"));
        for (std::uint32_t i = 0; sectionHeader(image, h, i, s); ++i)
            if (s.virtualAddress != s.rawPointer)
                return void(c.refuseSection(static_cast<int>(i), s, P::FlatMisaligned, kStatusInvalidImageFormat,
                                            "a section below a page whose raw offset is not its address"));
        m.outcome = Mapping::Outcome::Mappable;
        return;
    }
    for (std::uint32_t i = 0; sectionHeader(image, h, i, s); ++i) {
        const int index = static_cast<int>(i);
        const std::uint64_t mapSize = roundUp(s.virtualSize ? s.virtualSize : s.rawSize, alignMask);
        const std::uint64_t end = s.virtualAddress + roundUp(mapSize + (s.virtualAddress & alignMask), alignMask);
        if (s.virtualAddress > imageSize || end > imageSize)
            return void(c.refuseSection(index, s, P::SectionPastImage, kStatusInvalidImageFormat,
                                        "a section ends past SizeOfImage"));
        const std::uint64_t fileStart = s.rawPointer & ~kSectorMask;
        const std::uint64_t fileBytes =
            std::min(roundUp(s.rawSize + (s.rawPointer & kSectorMask), kSectorMask), mapSize);
        if (s.rawPointer == 0 || fileBytes == 0) continue;
        // Shared writable sections are copied by the server, which refuses
        // the same short files with another status.
        const bool shared = (s.characteristics & 0x10000000u) && (s.characteristics & 0x80000000u);
        if (s.rawPointer >= fileSize || fileStart + fileBytes > roundUp(fileSize, kSectorMask))
            return void(c.refuseSection(index, s, P::SectionDataPastFile,
                                        shared ? kStatusInvalidFileForSection : kStatusInvalidImageFormat,
                                        "a section's data runs past the end of the file (truncated?)"));
    }
    m.outcome = Mapping::Outcome::Mappable;
}

}  // namespace

Mapping checkMapping(const platform::PeImage& image) {
    Mapping m;
    try {
        check(image, m);
    } catch (const std::bad_alloc&) {
        m.outcome = Mapping::Outcome::Refused;
        m.reason = "out of memory";
    }
    return m;
}

}  // namespace pe
