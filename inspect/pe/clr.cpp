// Bounded reading of .NET metadata (ECMA-335 partition II, 22-24). The
// tables before AssemblyRef are only measured, never read: their row sizes
// follow from the heap-size flags and from the row counts of every table a
// column indexes. A hostile stream is damage, never a long walk: each table
// must lie inside its stream, each heap index inside its heap, and the bytes
// scanned for names or hashed for tokens may add up to little more than the
// heaps hold.
#include "inspect/pe/clr.h"

#include <tuple>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string_view>

#include "platform/peimage.h"
#include "platform/platform.h"
#include "platform/sha1.h"
#include "platform/text.h"

namespace pe {

namespace {

constexpr unsigned kCliEntry = 14;
constexpr std::uint32_t kMetadataSignature = 0x424A5342;  // "BSJB"
constexpr std::uint64_t kCliHeaderRead = 20;              // cb up to Flags
// Version texts are short ("v4.0.30319"); no more of one is kept.
constexpr std::uint32_t kMaxVersionText = 255;
// A stream name is at most 32 bytes with its zero.
constexpr std::size_t kMaxStreamName = 32;
// Real assemblies reference a few hundred assemblies and modules at most;
// more rows than this is a hostile table, not a longer list.
constexpr std::uint32_t kMaxRows = 1u << 16;
// Slack over what the heaps hold, for rows that legitimately share a name.
constexpr std::uint64_t kBudgetSlack = 64 * 1024;
// The AssemblyRef flag saying its blob is a full key, not a token.
constexpr std::uint32_t kPublicKeyFlag = 0x0001;
// The tables stream's HeapSizes bits: wide #Strings, #GUID, #Blob indexes,
// and four bytes of extra data after the row counts (as the CLR reads them).
constexpr std::uint8_t kWideStrings = 0x01, kWideGuids = 0x02, kWideBlobs = 0x04, kExtraData = 0x40;

enum Table : unsigned {
    kModule = 0x00, kTypeRef = 0x01, kTypeDef = 0x02, kField = 0x04, kMethodDef = 0x06, kParam = 0x08,
    kInterfaceImpl = 0x09, kMemberRef = 0x0A, kDeclSecurity = 0x0E, kStandAloneSig = 0x11, kEvent = 0x14,
    kProperty = 0x17, kModuleRef = 0x1A, kTypeSpec = 0x1B, kAssembly = 0x20, kAssemblyRef = 0x23, kFile = 0x26,
    kExportedType = 0x27, kManifestResource = 0x28, kGenericParam = 0x2A, kMethodSpec = 0x2B,
    kGenericParamConstraint = 0x2C,
};

// Coded indexes: tag bits and the tables the tags name.
struct Coded {
    unsigned bits;
    std::vector<unsigned> tables;
};
enum CodedKind : unsigned {
    kTypeDefOrRef, kHasConstant, kHasCustomAttribute, kHasFieldMarshal, kHasDeclSecurity, kMemberRefParent,
    kHasSemantics, kMethodDefOrRef, kMemberForwarded, kImplementation, kCustomAttributeType, kResolutionScope,
    kCodedCount
};
const Coded kCoded[kCodedCount] = {
    {2, {kTypeDef, kTypeRef, kTypeSpec}},
    {2, {kField, kParam, kProperty}},
    {5, {kMethodDef, kField, kTypeRef, kTypeDef, kParam, kInterfaceImpl, kMemberRef, kModule, kDeclSecurity,
         kProperty, kEvent, kStandAloneSig, kModuleRef, kTypeSpec, kAssembly, kAssemblyRef, kFile, kExportedType,
         kManifestResource, kGenericParam, kGenericParamConstraint, kMethodSpec}},
    {1, {kField, kParam}},
    {2, {kTypeDef, kMethodDef, kAssembly}},
    {3, {kTypeDef, kTypeRef, kModuleRef, kMethodDef, kTypeSpec}},
    {1, {kEvent, kProperty}},
    {1, {kMethodDef, kMemberRef}},
    {1, {kField, kMethodDef}},
    {2, {kFile, kAssemblyRef, kExportedType}},
    {3, {kMethodDef, kMemberRef}},  // the other tags name no table
    {2, {kModule, kModuleRef, kAssemblyRef, kTypeRef}},
};

// Column kinds: below 64 a simple index into that table, then the coded
// indexes, then fixed sizes and heap indexes.
constexpr std::uint8_t C(unsigned kind) { return static_cast<std::uint8_t>(64 + kind); }
constexpr std::uint8_t U2 = 100, U4 = 101, S = 102, G = 103, B = 104;

// The columns of every table up to AssemblyRef.
const std::vector<std::uint8_t> kColumns[kAssemblyRef + 1] = {
    {U2, S, G, G, G},                                  // Module
    {C(kResolutionScope), S, S},                       // TypeRef
    {U4, S, S, C(kTypeDefOrRef), kField, kMethodDef},  // TypeDef
    {kField},                                          // FieldPtr
    {U2, S, B},                                        // Field
    {kMethodDef},                                      // MethodPtr
    {U4, U2, U2, S, B, kParam},                        // MethodDef
    {kParam},                                          // ParamPtr
    {U2, U2, S},                                       // Param
    {kTypeDef, C(kTypeDefOrRef)},                      // InterfaceImpl
    {C(kMemberRefParent), S, B},                       // MemberRef
    {U2, C(kHasConstant), B},                          // Constant (type byte and its padding)
    {C(kHasCustomAttribute), C(kCustomAttributeType), B},  // CustomAttribute
    {C(kHasFieldMarshal), B},                          // FieldMarshal
    {U2, C(kHasDeclSecurity), B},                      // DeclSecurity
    {U2, U4, kTypeDef},                                // ClassLayout
    {U4, kField},                                      // FieldLayout
    {B},                                               // StandAloneSig
    {kTypeDef, kEvent},                                // EventMap
    {kEvent},                                          // EventPtr
    {U2, S, C(kTypeDefOrRef)},                         // Event
    {kTypeDef, kProperty},                             // PropertyMap
    {kProperty},                                       // PropertyPtr
    {U2, S, B},                                        // Property
    {U2, kMethodDef, C(kHasSemantics)},                // MethodSemantics
    {kTypeDef, C(kMethodDefOrRef), C(kMethodDefOrRef)},  // MethodImpl
    {S},                                               // ModuleRef
    {B},                                               // TypeSpec
    {U2, C(kMemberForwarded), S, kModuleRef},          // ImplMap
    {U4, kField},                                      // FieldRVA
    {U4, U4},                                          // ENCLog
    {U4},                                              // ENCMap
    {U4, U2, U2, U2, U2, U4, B, S, S},                 // Assembly
    {U4},                                              // AssemblyProcessor
    {U4, U4, U4},                                      // AssemblyOS
    {U2, U2, U2, U2, U4, B, S, S, B},                  // AssemblyRef
};
constexpr std::size_t kMaxRowSize = 9 * 4;

// A stream: its place in the file.
struct Stream {
    std::uint64_t offset = 0, size = 0;
    bool present = false;
};

// How many bytes a reader may still scan or hash.
class Budget {
public:
    explicit Budget(std::uint64_t bytes) : bytes_(bytes + kBudgetSlack) {}
    bool spend(std::uint64_t n) {
        if (n > bytes_) return false;
        bytes_ -= n;
        return true;
    }

private:
    std::uint64_t bytes_;
};

// Metadata text as shown: UTF-8 kept, control characters as '?', invalid
// bytes as U+FFFD.
std::string metadataText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        char32_t cp = 0;
        const std::size_t n = platform::decodeUtf8(raw, i, cp);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
            out += '?';
        else
            out.append(raw.substr(i, n));
        i += n;
    }
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

// One row's bytes, read column by column.
class Row {
public:
    Row(const std::uint8_t* p, const std::uint8_t* widths) : p_(p), widths_(widths) {}
    std::uint32_t next() {
        const unsigned w = widths_[column_++];
        std::uint32_t v = 0;
        for (unsigned i = 0; i < w; ++i) v |= static_cast<std::uint32_t>(p_[at_ + i]) << (8 * i);
        at_ += w;
        return v;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* widths_;
    std::size_t at_ = 0, column_ = 0;
};

// Any read that fails marks the metadata damaged; the reader then stops
// where it is, keeping what it had read whole.
class Reader {
public:
    Reader(const platform::PeImage& image, ManagedImage& out) : image_(image), file_(image.bytes()), out_(out) {}

    void read() {
        if (!image_.complete()) return;
        const platform::PeImage::Directory cliDir = image_.directory(kCliEntry);
        if (cliDir.rva == 0 || cliDir.size == 0) return;
        out_.state = ManagedImage::State::Damaged;
        std::uint64_t cli = 0;
        std::uint32_t mdRva = 0, mdSize = 0;
        if (!image_.sectionsRead() || !image_.rvaToOffset(cliDir.rva, cli) || !file_.has(cli, kCliHeaderRead) ||
            !file_.u32(cli + 8, mdRva) || !file_.u32(cli + 12, mdSize) || !file_.u32(cli + 16, out_.cliFlags))
            return;
        std::uint64_t md = 0;
        if (mdRva == 0 || !image_.rvaToOffset(mdRva, md) || !file_.has(md, mdSize)) return;
        metadata_ = {md, mdSize, true};
        if (!root() || !tables()) return;
        out_.state = ManagedImage::State::Read;
    }

private:
    bool fail() {
        bad_ = true;
        return false;
    }
    // Offsets inside the metadata, checked against its size.
    bool need(const Stream& s, std::uint64_t at, std::uint64_t count) {
        return (at <= s.size && count <= s.size - at) || fail();
    }
    std::uint16_t u16(const Stream& s, std::uint64_t at) {
        std::uint16_t v = 0;
        if (!need(s, at, 2) || !file_.u16(s.offset + at, v)) fail();
        return bad_ ? 0 : v;
    }
    std::uint32_t u32(const Stream& s, std::uint64_t at) {
        std::uint32_t v = 0;
        if (!need(s, at, 4) || !file_.u32(s.offset + at, v)) fail();
        return bad_ ? 0 : v;
    }
    bool readAt(std::uint64_t at, void* out, std::size_t n) { return file_.read(at, out, n) || fail(); }

    // The metadata root and its stream headers. Where a name comes twice
    // the last one counts, as Mono reads it.
    bool root() {
        if (u32(metadata_, 0) != kMetadataSignature) return fail();
        const std::uint32_t versionLength = u32(metadata_, 12);
        if (bad_ || !need(metadata_, 16, versionLength)) return false;
        std::string version(std::min(versionLength, kMaxVersionText), '\0');
        if (!readAt(metadata_.offset + 16, version.data(), version.size())) return false;
        out_.runtimeVersion = metadataText(version.substr(0, version.find('\0')));
        std::uint64_t at = (16ull + versionLength + 3) & ~3ull;
        const std::uint16_t count = u16(metadata_, at + 2);
        at += 4;
        for (std::uint32_t i = 0; i < count && !bad_; ++i) {
            const std::uint32_t offset = u32(metadata_, at), size = u32(metadata_, at + 4);
            char name[kMaxStreamName] = {};
            const std::uint64_t nameAt = at + 8;
            const std::size_t avail = static_cast<std::size_t>(
                std::min<std::uint64_t>(kMaxStreamName, metadata_.size - std::min(metadata_.size, nameAt)));
            if (bad_ || !need(metadata_, nameAt, avail) || !readAt(metadata_.offset + nameAt, name, avail)) return false;
            const void* zero = std::memchr(name, 0, avail);
            if (!zero) return fail();
            const std::string_view n(name, static_cast<std::size_t>(static_cast<const char*>(zero) - name));
            at = nameAt + ((n.size() + 1 + 3) & ~std::size_t{3});
            Stream* s = n == "#~" || n == "#-" ? &tables_
                        : n == "#Strings"      ? &strings_
                        : n == "#Blob"         ? &blobs_
                                               : nullptr;
            if (!s) continue;
            if (!need(metadata_, offset, size)) return false;
            *s = {metadata_.offset + offset, size, true};
        }
        return !bad_ && (tables_.present || fail());
    }

    unsigned width(std::uint8_t column) const {
        switch (column) {
            case U2: return 2;
            case U4: return 4;
            case S: return heapSizes_ & kWideStrings ? 4 : 2;
            case G: return heapSizes_ & kWideGuids ? 4 : 2;
            case B: return heapSizes_ & kWideBlobs ? 4 : 2;
        }
        if (column < 64) return rows_[column] < (1u << 16) ? 2 : 4;
        const Coded& c = kCoded[column - 64];
        std::uint32_t most = 0;
        for (unsigned t : c.tables) most = std::max(most, rows_[t]);
        return most < (1u << (16 - c.bits)) ? 2 : 4;
    }

    // The tables stream's header, the place of each table up to
    // AssemblyRef, then the rows we want.
    bool tables() {
        if (!need(tables_, 0, 24) || !readAt(tables_.offset + 6, &heapSizes_, 1)) return false;
        const std::uint32_t low = u32(tables_, 8), high = u32(tables_, 12);
        const std::uint64_t valid = low | static_cast<std::uint64_t>(high) << 32;
        std::uint64_t at = 24;
        for (unsigned t = 0; t < 64 && !bad_; ++t) {
            if (!(valid >> t & 1)) continue;
            rows_[t] = u32(tables_, at);
            at += 4;
        }
        if (bad_) return false;
        if (heapSizes_ & kExtraData) at += 4;
        std::uint64_t start[kAssemblyRef + 1] = {};
        for (unsigned t = 0; t <= kAssemblyRef; ++t) {
            std::size_t size = 0;
            for (std::size_t c = 0; c < kColumns[t].size(); ++c) {
                widths_[t][c] = static_cast<std::uint8_t>(width(kColumns[t][c]));
                size += widths_[t][c];
            }
            rowSize_[t] = size;
            start[t] = at;
            // Every row of every table before the ones we read must be there.
            if (!need(tables_, at, static_cast<std::uint64_t>(rows_[t]) * size)) return false;
            at += static_cast<std::uint64_t>(rows_[t]) * size;
        }
        stringBudget_ = Budget(strings_.size);
        hashBudget_ = Budget(blobs_.size);

        std::uint8_t row[kMaxRowSize];
        const auto fetch = [&](unsigned t, std::uint32_t i) {
            std::memset(row, 0, sizeof row);
            readAt(tables_.offset + start[t] + static_cast<std::uint64_t>(i) * rowSize_[t], row, rowSize_[t]);
            return Row(row, widths_[t]);
        };
        const auto bounded = [&](unsigned t) { return rows_[t] > kMaxRows ? (fail(), 0u) : rows_[t]; };

        for (std::uint32_t i = 0, n = bounded(kModuleRef); i < n && !bad_; ++i) {
            std::string name = string(fetch(kModuleRef, i).next());
            if (!bad_) out_.moduleRefs.push_back(std::move(name));
        }
        if (bad_) return false;

        if (rows_[kAssembly] > 0) {
            Row r = fetch(kAssembly, 0);
            r.next();  // HashAlgId
            AssemblyName a;
            version(r, a);
            r.next();  // Flags
            const std::uint32_t key = r.next();
            a.name = string(r.next());
            a.culture = string(r.next());
            a.publicKeyToken = keyToken(key);
            if (bad_) return false;
            out_.assembly = std::move(a);
            out_.hasAssembly = true;
        }

        for (std::uint32_t i = 0, n = bounded(kAssemblyRef); i < n && !bad_; ++i) {
            Row r = fetch(kAssemblyRef, i);
            AssemblyName a;
            version(r, a);
            const std::uint32_t flags = r.next(), key = r.next();
            a.name = string(r.next());
            a.culture = string(r.next());
            a.publicKeyToken = flags & kPublicKeyFlag ? keyToken(key) : token(key);
            if (!bad_) out_.references.push_back(std::move(a));
        }
        return !bad_;
    }

    static void version(Row& r, AssemblyName& a) {
        a.major = static_cast<std::uint16_t>(r.next());
        a.minor = static_cast<std::uint16_t>(r.next());
        a.build = static_cast<std::uint16_t>(r.next());
        a.revision = static_cast<std::uint16_t>(r.next());
    }

    // A name of the #Strings heap: zero-terminated within the heap.
    std::string string(std::uint32_t index) {
        if (index == 0 || bad_) return {};
        if (!strings_.present || index >= strings_.size) return fail(), std::string();
        std::string raw;
        std::uint64_t at = index;
        char buf[64];
        while (raw.size() <= kMaxMetadataName) {
            if (at >= strings_.size) return fail(), std::string();  // runs to the end of the heap
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, strings_.size - at));
            if (!readAt(strings_.offset + at, buf, take)) return {};
            const void* zero = std::memchr(buf, 0, take);
            const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - buf) : take;
            if (!stringBudget_.spend(zero ? n + 1 : take)) return fail(), std::string();
            if (zero) {
                raw.append(buf, n);
                if (raw.size() <= kMaxMetadataName) return metadataText(raw);
                break;
            }
            raw.append(buf, take);
            at += take;
        }
        // Cut on a character boundary.
        std::size_t cut = kMaxMetadataName;
        while (cut > kMaxMetadataName - 3 && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80) --cut;
        return metadataText(std::string_view(raw).substr(0, cut)) + "…";
    }

    // A blob of the #Blob heap: its place and length, inside the heap.
    bool blob(std::uint32_t index, std::uint64_t& at, std::uint32_t& length) {
        at = 0;
        length = 0;
        if (index == 0 || bad_) return !bad_;
        if (!blobs_.present || index >= blobs_.size) return fail();
        std::uint8_t b[4] = {};
        const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(4, blobs_.size - index));
        if (!readAt(blobs_.offset + index, b, avail)) return false;
        std::size_t prefix;
        if ((b[0] & 0x80) == 0) {
            prefix = 1, length = b[0];
        } else if ((b[0] & 0xC0) == 0x80) {
            prefix = 2, length = (b[0] & 0x3Fu) << 8 | b[1];
        } else if ((b[0] & 0xE0) == 0xC0) {
            prefix = 4, length = (b[0] & 0x1Fu) << 24 | static_cast<std::uint32_t>(b[1]) << 16 | b[2] << 8 | b[3];
        } else {
            return fail();
        }
        if (prefix > avail || !need(blobs_, index + prefix, length)) return fail();
        at = blobs_.offset + index + prefix;
        return true;
    }

    // An AssemblyRef's token as stored: 8 bytes, else none.
    std::string token(std::uint32_t index) {
        std::uint64_t at = 0;
        std::uint32_t length = 0;
        std::uint8_t t[8];
        if (!blob(index, at, length) || length != sizeof t || !readAt(at, t, sizeof t)) return {};
        return hex(t, sizeof t);
    }

    // The token of a full public key: the last 8 bytes of its SHA-1,
    // reversed. Each blob is hashed once.
    std::string keyToken(std::uint32_t index) {
        const auto known = tokens_.find(index);
        if (known != tokens_.end()) return known->second;
        std::uint64_t at = 0;
        std::uint32_t length = 0;
        if (!blob(index, at, length) || length == 0) return {};
        if (!hashBudget_.spend(length)) return fail(), std::string();
        platform::Sha1 sha;
        std::uint8_t buf[4096];
        for (std::uint32_t done = 0; done < length;) {
            const std::uint32_t take = std::min<std::uint32_t>(sizeof buf, length - done);
            if (!readAt(at + done, buf, take)) return {};
            sha.update(buf, take);
            done += take;
        }
        const platform::Sha1::Digest d = sha.finish();
        std::uint8_t t[8];
        for (int i = 0; i < 8; ++i) t[i] = d[19 - i];
        return tokens_[index] = hex(t, sizeof t);
    }

    const platform::PeImage& image_;
    const platform::ByteSource& file_;
    ManagedImage& out_;
    bool bad_ = false;
    Stream metadata_, tables_, strings_, blobs_;
    std::uint8_t heapSizes_ = 0;
    std::uint32_t rows_[64] = {};
    std::uint8_t widths_[kAssemblyRef + 1][9] = {};
    std::size_t rowSize_[kAssemblyRef + 1] = {};
    Budget stringBudget_{0}, hashBudget_{0};
    std::map<std::uint32_t, std::string> tokens_;
};

ManagedImage readFrom(const platform::PeImage& image) {
    ManagedImage out;
    try {
        Reader(image, out).read();
    } catch (const std::bad_alloc&) {
        out = ManagedImage{};
        out.state = ManagedImage::State::Damaged;
    }
    return out;
}

}  // namespace

std::string AssemblyName::versionText() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", major, minor, build, revision);
    return buf;
}

std::string displayName(const AssemblyName& n) {
    return n.name + ", Version=" + n.versionText() + ", Culture=" + (n.culture.empty() ? "neutral" : n.culture) +
           ", PublicKeyToken=" + (n.publicKeyToken.empty() ? "null" : n.publicKeyToken);
}

std::string pinvokeDllName(const std::string& module) {
    const std::size_t slash = module.find_last_of("/\\");
    const std::string file = slash == std::string::npos ? module : module.substr(slash + 1);
    return file.find('.') == std::string::npos ? module + ".dll" : module;
}

bool frameworkToken(const std::string& token) {
    static const char* const kTokens[] = {"b77a5c561934e089", "b03f5f7f11d50a3a", "31bf3856ad364e35",
                                          "cc7b13ffcd2ddd51", "7cec85d7bea7798e", "adb9793829ddae60"};
    for (const char* t : kTokens)
        if (token == t) return true;
    return false;
}

bool olderThan(const AssemblyName& found, const AssemblyName& asked) {
    return std::tie(found.major, found.minor, found.build, found.revision) <
           std::tie(asked.major, asked.minor, asked.build, asked.revision);
}

ManagedImage readManagedImage(const platform::PeImage& image) { return readFrom(image); }

bool cliFlagsOf(const platform::PeImage& image, std::uint32_t& flags) {
    flags = 0;
    if (!image.complete() || !image.sectionsRead()) return false;
    const platform::PeImage::Directory cliDir = image.directory(kCliEntry);
    std::uint64_t cli = 0;
    if (cliDir.rva == 0 || cliDir.size == 0 || !image.rvaToOffset(cliDir.rva, cli)) return false;
    const platform::ByteSource& file = image.bytes();
    return file.has(cli, kCliHeaderRead) && file.u32(cli + 16, flags);
}

ManagedImage readManagedImage(const platform::ByteSource& image) {
    try {
        return readFrom(platform::PeImage(image));
    } catch (const std::bad_alloc&) {
        ManagedImage out;
        out.state = ManagedImage::State::Damaged;
        return out;
    }
}

ManagedImage readManagedImage(const std::string& path) {
    try {
        platform::FileReader file;
        if (file.open(path) != platform::MapStatus::Ok) return {};
        return readFrom(platform::PeImage(file));
    } catch (const std::bad_alloc&) {
        ManagedImage out;
        out.state = ManagedImage::State::Damaged;
        return out;
    }
}

}  // namespace pe
