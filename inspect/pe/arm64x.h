// The code-machine view of an image. An ARM64EC image is an x64 image
// (machine 0x8664) whose load configuration points at CHPE metadata; an
// ARM64X image is an ARM64 image (0xAA64) with CHPE metadata whose dynamic
// value relocations (symbol IMAGE_DYNAMIC_RELOCATION_ARM64X) patch the
// mapped image into a second view for x64 and ARM64EC processes: another
// machine field, other data directories (the import directory among them)
// and other table entries. The relocations are read and applied as Wine's
// loader does (update_arm64x_mapping, apply_arm64x_relocations), bounded by
// the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "inspect/pe/imageview.h"
#include "inspect/pe/loadconfig.h"
#include "platform/peimage.h"

namespace pe {

// One ARM64X fixup: at `rva`, zero `size` bytes, write the `size` bytes of
// `value` (little-endian), or add `delta` to the 32-bit value there.
struct Arm64xFixup {
    enum class Type : std::uint8_t { ZeroFill = 0, Value = 1, Delta = 2 };
    Type type = Type::ZeroFill;
    std::uint8_t size = 0;  // 1, 2, 4 or 8; 4 for a delta
    std::uint32_t rva = 0;
    std::uint64_t value = 0;
    std::int64_t delta = 0;
};

struct CodeView {
    enum class Kind {
        Plain,    // one machine, no hybrid code
        Arm64ec,  // machine 0x8664 with CHPE metadata
        Arm64x,   // machine 0xAA64 with CHPE metadata: a native view and an EC view
    };
    Kind kind = Kind::Plain;

    enum class Outcome {
        Read,     // the view below is the one an x64 process maps
        NoTable,  // ARM64X without usable ARM64X relocations: no EC view (x64 processes cannot map it)
        Damaged,  // the relocations run off their table or the image; those read before are applied
    };
    Outcome outcome = Outcome::Read;
    std::string reason;

    std::uint16_t machine = 0;    // IMAGE_FILE_HEADER.Machine as stored
    std::uint16_t ecMachine = 0;  // after the fixups (0x8664 in a well-formed ARM64X image); else `machine`

    // The data directories after the fixups that fall in the headers, and
    // NumberOfRvaAndSizes after them; the import and delay-load entries as
    // the loader reads them (the import entry whatever the count says).
    std::array<DirectoryEntry, 16> directories{};
    std::uint32_t directoryCount = 0;
    DirectoryEntry import, delayImport;

    // The ARM64X fixups outside the header bytes above, in table order, for
    // readers of other tables (import descriptors, thunks) in the EC view;
    // `fixupsCut` when there were more than this reader keeps.
    std::vector<Arm64xFixup> fixups;
    bool fixupsCut = false;
    // Indexes into `fixups` by RVA, for patch().
    std::vector<std::uint32_t> byRva;

    // Applies the fixups to `count` bytes read from the image at `rva`,
    // making them what the EC view holds there. False when a delta's target
    // starts before the bytes given (its carry cannot be known: those bytes
    // are left as they were), or when memory runs out.
    bool patch(std::uint64_t rva, std::uint8_t* bytes, std::size_t count) const;
};

// The bytes of an image as an x64 process maps an ARM64X image: the file's,
// with the view's fixups applied where they land. A PeImage over it reads
// the EC view's headers, directories and tables.
class EcViewSource final : public platform::ByteSource {
public:
    EcViewSource(const platform::PeImage& native, const CodeView& view) : native_(native), view_(view) {}
    std::uint64_t size() const override { return native_.bytes().size(); }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    const platform::PeImage& native_;
    const CodeView& view_;
};

// How many fixups outside the headers a view keeps.
constexpr std::size_t kMaxArm64xFixups = 1u << 18;

// `image` has had readHeaders(); `config` is its readLoadConfig().
CodeView readCodeView(const platform::PeImage& image, const LoadConfig& config);

}  // namespace pe
