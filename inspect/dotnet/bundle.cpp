// The bundle reader follows the host's (bundle/header.cpp, file_entry.cpp,
// reader.cpp): little-endian fields, strings as a length of one or two
// 7-bit groups (1 to 260 bytes, the host's MAX_PATH on Windows) then UTF-8
// bytes, an entry valid when its offset is above zero and its type known.
// Beyond the host, an entry whose bytes would lie past the file's end is
// damage here: the host would fail only when it maps that entry.
#include "inspect/dotnet/bundle.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>

#include "platform/peimage.h"
#include "platform/text.h"

#ifdef TAVELIN_HAVE_ZLIB
#include <zlib.h>
#endif

namespace dotnet {

const std::uint8_t kBundleSignature[32] = {0x8b, 0x12, 0x02, 0xb9, 0x6a, 0x61, 0x20, 0x38, 0x72, 0x7b, 0x93,
                                           0x02, 0x14, 0xd7, 0xa0, 0x32, 0x13, 0xf5, 0xb9, 0xe6, 0xef, 0xae,
                                           0x33, 0x18, 0xee, 0x3b, 0x2d, 0xce, 0x24, 0xb3, 0x6a, 0xae};

namespace {

constexpr std::size_t kMaxPath = 260;
// offset, size, type and a one-byte path at the least (version 1).
constexpr std::uint64_t kMinEntry = 8 + 8 + 1 + 2;

class Cursor {
public:
    Cursor(const platform::ByteSource& file, std::uint64_t at) : file_(file), at_(at) {}
    bool bytes(void* out, std::size_t n) {
        if (!file_.read(at_, out, n)) return false;
        at_ += n;
        return true;
    }
    bool u8(std::uint8_t& v) { return bytes(&v, 1); }
    bool u32(std::uint32_t& v) {
        std::uint8_t b[4];
        if (!bytes(b, 4)) return false;
        v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
    bool u64(std::uint64_t& v) {
        std::uint8_t b[8];
        if (!bytes(b, 8)) return false;
        v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
        return true;
    }
    // False with `why` set for a length the host refuses.
    bool path(std::string& out, std::string& why) {
        std::uint8_t first = 0, second = 0;
        if (!u8(first)) return why = "the file ends in a name", false;
        std::size_t length = first & 0x7F;
        if (first & 0x80) {
            if (!u8(second)) return why = "the file ends in a name", false;
            if (second & 0x80) return why = "a name's length takes more than two bytes", false;
            length |= static_cast<std::size_t>(second) << 7;
        }
        if (length == 0 || length > kMaxPath) return why = "a name is empty or longer than 260 bytes", false;
        char buffer[kMaxPath];
        if (!bytes(buffer, length)) return why = "the file ends in a name", false;
        out = platform::validUtf8(std::string_view(buffer, length));
        return true;
    }
    std::uint64_t at() const { return at_; }

private:
    const platform::ByteSource& file_;
    std::uint64_t at_;
};

// Where the image's own bytes end: the apphost's marker is in one of its
// sections, the bundled files come after them.
std::uint64_t imageEnd(const platform::ByteSource& file) {
    const platform::PeImage image(file);
    if (!image.complete() || !image.sectionsRead()) return 0;
    std::uint64_t end = 0;
    for (const platform::PeSection& s : image.sections())
        end = std::max<std::uint64_t>(end, std::uint64_t(s.rawPointer) + s.rawSize);
    return std::min(end, file.size());
}

// The first signature in [0, end), read in blocks that overlap by the
// signature's length less one.
bool findMarker(const platform::ByteSource& file, std::uint64_t end, std::uint64_t& at) {
    constexpr std::size_t kBlock = 64 * 1024, kSig = sizeof(kBundleSignature);
    std::vector<std::uint8_t> block(kBlock);
    const std::boyer_moore_horspool_searcher searcher(kBundleSignature, kBundleSignature + kSig);
    for (std::uint64_t start = 0; start + kSig <= end; start += kBlock - (kSig - 1)) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, end - start));
        if (!file.read(start, block.data(), n)) return false;
        const auto hit = std::search(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n), searcher);
        if (hit != block.begin() + static_cast<std::ptrdiff_t>(n)) {
            at = start + static_cast<std::uint64_t>(hit - block.begin());
            return true;
        }
        if (n < kBlock) break;
    }
    return false;
}

bool readManifest(const platform::ByteSource& file, Bundle& b) {
    Cursor c(file, b.headerOffset);
    std::uint32_t count = 0;
    if (!c.u32(b.majorVersion) || !c.u32(b.minorVersion) || !c.u32(count))
        return b.reason = "the bundle header lies past the end of the file", false;
    if (b.majorVersion != 1 && b.majorVersion != 2 && b.majorVersion != 6)
        return b.reason = "unknown bundle header version " + std::to_string(b.majorVersion) + "." +
                          std::to_string(b.minorVersion),
               false;
    if (count == 0 || count > 0x7FFFFFFF) return b.reason = "the bundle holds no files", false;
    if (!c.path(b.bundleId, b.reason)) return false;
    if (b.majorVersion >= 2) {
        if (!c.u64(b.depsJsonOffset) || !c.u64(b.depsJsonSize) || !c.u64(b.runtimeConfigOffset) ||
            !c.u64(b.runtimeConfigSize) || !c.u64(b.flags))
            return b.reason = "the bundle header lies past the end of the file", false;
    }
    // Each entry takes bytes of the file: a count beyond them is damage, not
    // a longer list.
    const std::uint64_t left = file.size() - std::min(file.size(), c.at());
    if (count > left / kMinEntry) return b.reason = std::to_string(count) + " files cannot fit in the manifest", false;
    b.entries.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        BundleEntry e;
        std::uint8_t type = 0;
        if (!c.u64(e.offset) || !c.u64(e.size) || (b.majorVersion >= 6 && !c.u64(e.compressedSize)) || !c.u8(type))
            return b.reason = "the manifest breaks off at file " + std::to_string(i + 1), false;
        if (!c.path(e.path, b.reason)) return false;
        const std::uint64_t top = std::uint64_t(1) << 63;
        if (e.offset == 0 || e.offset >= top || e.size >= top || e.compressedSize >= top ||
            type > static_cast<std::uint8_t>(BundleEntry::Type::Symbols))
            return b.reason = "invalid manifest entry for " + e.path, false;
        e.type = static_cast<BundleEntry::Type>(type);
        if (!file.has(e.offset, e.storedSize())) return b.reason = e.path + " lies past the end of the file", false;
        b.entries.push_back(std::move(e));
    }
    return true;
}

bool samePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] == '\\' ? '/' : a[i], y = b[i] == '\\' ? '/' : b[i];
        if (x != y && !platform::equalsIgnoringCase(std::string_view(&x, 1), std::string_view(&y, 1))) return false;
    }
    return true;
}

class OwnedBytes : public platform::ByteSource {
public:
    explicit OwnedBytes(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override {
        if (!has(offset, count)) return false;
        if (count) std::memcpy(out, bytes_.data() + offset, count);
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

const char* bundleEntryTypeName(BundleEntry::Type type) {
    switch (type) {
    case BundleEntry::Type::Unknown: return "unknown";
    case BundleEntry::Type::Assembly: return "assembly";
    case BundleEntry::Type::NativeBinary: return "native";
    case BundleEntry::Type::DepsJson: return "deps.json";
    case BundleEntry::Type::RuntimeConfigJson: return "runtimeconfig.json";
    case BundleEntry::Type::Symbols: return "symbols";
    }
    return "unknown";
}

const BundleEntry* Bundle::find(const std::string& path) const {
    for (const BundleEntry& e : entries)
        if (samePath(e.path, path)) return &e;
    return nullptr;
}

const BundleEntry* Bundle::firstOfType(BundleEntry::Type type) const {
    for (const BundleEntry& e : entries)
        if (e.type == type) return &e;
    return nullptr;
}

Bundle readBundle(const platform::ByteSource& file) {
    Bundle b;
    try {
        std::uint64_t signature = 0;
        if (!findMarker(file, imageEnd(file), signature) || signature < 8) return b;
        b.markerOffset = signature - 8;
        Cursor marker(file, b.markerOffset);
        marker.u64(b.headerOffset);
        b.outcome = Bundle::Outcome::Apphost;
        if (b.headerOffset == 0) return b;
        b.outcome = Bundle::Outcome::Damaged;
        if (b.headerOffset >= file.size()) {
            b.reason = "the bundle header offset lies past the end of the file";
            return b;
        }
        if (readManifest(file, b)) b.outcome = Bundle::Outcome::Read;
    } catch (const std::bad_alloc&) {
        b.outcome = Bundle::Outcome::Damaged;
        b.reason = "out of memory";
    }
    return b;
}

bool canInflate() {
#ifdef TAVELIN_HAVE_ZLIB
    return true;
#else
    return false;
#endif
}

std::unique_ptr<platform::ByteSource> openBundleEntry(const platform::ByteSource& file, const BundleEntry& entry,
                                                      std::string& reason) {
    try {
        if (!file.has(entry.offset, entry.storedSize())) {
            reason = entry.path + " lies past the end of the file";
            return nullptr;
        }
        if (!entry.compressed()) return std::make_unique<ByteRange>(file, entry.offset, entry.size);
#ifdef TAVELIN_HAVE_ZLIB
        // Deflate expands a byte to at most 1032: a larger claim is a lie.
        if (entry.size > kMaxInflatedEntry || entry.size > entry.compressedSize * 1032 + 1024) {
            reason = entry.path + ": " + std::to_string(entry.size) + " bytes claimed from " +
                     std::to_string(entry.compressedSize);
            return nullptr;
        }
        std::vector<std::uint8_t> out(static_cast<std::size_t>(entry.size));
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
            reason = "zlib cannot start";
            return nullptr;
        }
        std::array<std::uint8_t, 64 * 1024> in;
        std::uint64_t done = 0;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        int status = Z_OK;
        while (status == Z_OK && done < entry.compressedSize && z.avail_out > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), entry.compressedSize - done));
            if (!file.read(entry.offset + done, in.data(), n)) break;
            done += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
            // Output beyond 4 GB cannot be asked for in one call: the limit above keeps it smaller.
            status = inflate(&z, Z_NO_FLUSH);
        }
        const std::uint64_t produced = z.total_out;
        inflateEnd(&z);
        if ((status != Z_OK && status != Z_STREAM_END) || produced != entry.size) {
            reason = entry.path + " does not inflate to its " + std::to_string(entry.size) + " bytes";
            return nullptr;
        }
        return std::make_unique<OwnedBytes>(std::move(out));
#else
        reason = entry.path + " is compressed, and this build reads no compressed entries";
        return nullptr;
#endif
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return nullptr;
    }
}

}  // namespace dotnet
