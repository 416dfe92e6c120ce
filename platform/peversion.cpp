#include "platform/peversion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/peimage.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kVsVersionInfo = 1;

// One node of a VS_VERSIONINFO tree.
struct Node {
    std::uint64_t start = 0;
    std::uint64_t end = 0;        // start + wLength, cut to the parent's end
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::uint64_t keyStart = 0;   // UTF-16 key
    std::uint64_t keyEnd = 0;     // position of the key's terminating zero (or the node's end)
    std::uint64_t value = 0;      // start of the value, 4-aligned from the node's start
};

bool readNode(const MemoryByteSource& b, std::uint64_t start, std::uint64_t limit, Node& n) {
    std::uint16_t length = 0;
    if (start + 6 > limit || !b.u16(start, length) || length < 6) return false;
    n.start = start;
    n.end = start + length < limit ? start + length : limit;
    b.u16(start + 2, n.valueLength);
    b.u16(start + 4, n.type);
    n.keyStart = start + 6;
    std::uint64_t p = n.keyStart;
    std::uint16_t ch = 1;
    while (p + 2 <= n.end && b.u16(p, ch) && ch != 0) p += 2;
    n.keyEnd = p;
    const std::uint64_t afterKey = (ch == 0) ? p + 2 : p;
    n.value = start + (((afterKey - start) + 3) & ~std::uint64_t{3});
    return true;
}

bool keyEquals(const MemoryByteSource& b, const Node& n, std::u16string_view key) {
    if ((n.keyEnd - n.keyStart) / 2 != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        std::uint16_t ch = 0;
        b.u16(n.keyStart + 2 * i, ch);
        if (simpleLower(ch) != simpleLower(key[i])) return false;
    }
    return true;
}

bool findChild(const MemoryByteSource& b, const Node& parent, std::u16string_view key, Node& out) {
    const std::uint64_t valueBytes = static_cast<std::uint64_t>(parent.valueLength) * (parent.type ? 2 : 1);
    std::uint64_t child = parent.value + ((valueBytes + 3) & ~std::uint64_t{3});
    while (child < parent.end) {
        Node n;
        if (!readNode(b, child, parent.end, n)) return false;
        if (keyEquals(b, n, key)) {
            out = n;
            return true;
        }
        std::uint16_t length = 0;
        b.u16(child, length);
        child += (static_cast<std::uint64_t>(length) + 3) & ~std::uint64_t{3};
    }
    return false;
}

bool findNode(const std::uint8_t* block, std::string_view subBlock, MemoryByteSource& b, Node& node) {
    if (!block) return false;
    std::uint16_t rootLength = static_cast<std::uint16_t>(block[0] | (block[1] << 8));
    b = MemoryByteSource(block, rootLength);
    if (!readNode(b, 0, rootLength, node)) return false;
    std::size_t pos = 0;
    while (pos < subBlock.size()) {
        if (subBlock[pos] == '\\') {
            ++pos;
            continue;
        }
        std::size_t next = subBlock.find('\\', pos);
        if (next == std::string_view::npos) next = subBlock.size();
        Node child;
        if (!findChild(b, node, utf8ToUtf16(subBlock.substr(pos, next - pos)), child)) return false;
        node = child;
        pos = next;
    }
    return true;
}

}  // namespace

bool findVersionResource(const std::uint8_t* image, std::size_t size, std::uint16_t userLanguage,
                         std::size_t& offset, std::size_t& length) {
    std::uint64_t at = 0, len = 0;
    if (!findVersionResource(MemoryByteSource(image, size), userLanguage, at, len)) return false;
    offset = static_cast<std::size_t>(at);
    length = static_cast<std::size_t>(len);
    return true;
}

bool findVersionResource(const ByteSource& img, std::uint16_t userLanguage, std::uint64_t& offset,
                         std::uint64_t& length) {
    return findVersionResource(PeImage(img), userLanguage, offset, length);
}

bool findVersionResource(const PeImage& image, std::uint16_t userLanguage, std::uint64_t& offset,
                         std::uint64_t& length) {
    return image.complete() && image.findResource(kRtVersion, kVsVersionInfo, userLanguage, offset, length);
}

bool readVersionBlock(const PeImage& image, std::uint16_t userLanguage, std::vector<std::uint8_t>& out) {
    out.clear();
    std::uint64_t offset = 0, length = 0;
    if (!findVersionResource(image, userLanguage, offset, length) || length < 6) return false;
    // A version block's own length is one WORD: nothing past 64 KB is ever read.
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, 0xFFFF)));
    if (!image.bytes().read(offset, out.data(), out.size())) {
        out.clear();
        return false;
    }
    clampVersionBlock(out.data(), out.size());
    return true;
}

void clampVersionBlock(std::uint8_t* block, std::size_t available) {
    if (available < 2) return;
    std::uint16_t length = static_cast<std::uint16_t>(block[0] | (block[1] << 8));
    if (length > available) {
        length = static_cast<std::uint16_t>(available);
        block[0] = static_cast<std::uint8_t>(length & 0xFF);
        block[1] = static_cast<std::uint8_t>(length >> 8);
    }
}

bool queryVersionBlock(const std::uint8_t* block, std::string_view subBlock, const std::uint8_t*& value,
                       std::uint32_t& valueLength, bool& isText) {
    MemoryByteSource b;
    Node node;
    if (!findNode(block, subBlock, b, node)) return false;
    isText = node.type != 0;
    const std::uint64_t wanted = static_cast<std::uint64_t>(node.valueLength) * (isText ? 2 : 1);
    const std::uint64_t available = node.value < node.end ? node.end - node.value : 0;
    value = block + (node.value < node.end ? node.value : node.end);
    valueLength = static_cast<std::uint32_t>((wanted < available ? wanted : available) / (isText ? 2 : 1));
    return true;
}

bool queryVersionString(const std::uint8_t* block, std::string_view subBlock, std::string& out) {
    MemoryByteSource b;
    Node node;
    if (!findNode(block, subBlock, b, node)) return false;
    out.clear();
    if (node.valueLength == 0) return true;
    std::u16string text;
    for (std::uint64_t p = node.value; p + 2 <= node.end; p += 2) {
        std::uint16_t ch = 0;
        b.u16(p, ch);
        if (ch == 0) break;
        text.push_back(static_cast<char16_t>(ch));
    }
    out = utf16ToUtf8(text.data(), text.size());
    return true;
}

std::uint16_t localeLanguageId() {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* locale = nullptr;
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (v && *v) {
            locale = v;
            break;
        }
    }
    if (!locale) return 0x0409;
    struct Lang {
        const char* code;
        std::uint16_t primary = 0;
    };
    static constexpr Lang kLangs[] = {
        {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
        {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
        {"he", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12},
        {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18},
        {"ru", 0x19}, {"hr", 0x1A}, {"sk", 0x1B}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F},
        {"uk", 0x22}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"vi", 0x2A},
    };
    for (const Lang& l : kLangs) {
        if (std::strncmp(locale, l.code, 2) == 0 && (locale[2] == '_' || locale[2] == '.' || locale[2] == 0 || locale[2] == '@'))
            return static_cast<std::uint16_t>((1u << 10) | l.primary);
    }
    return 0x0409;
}

}  // namespace platform
