#include "app/ownversion.h"

#include <cstdio>
#include <string_view>

#ifndef TAVELIN_FILE_VERSION
#error "TAVELIN_FILE_VERSION must be set by the build"
#endif

const char* OwnFileVersion() { return TAVELIN_FILE_VERSION; }
const char* OwnProductVersion() { return TAVELIN_PRODUCT_VERSION; }

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, static_cast<std::uint16_t>(v));
    put16(b, static_cast<std::uint16_t>(v >> 16));
}
void align4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}
// The texts here are ASCII, so one UTF-16 unit per byte.
void putText(Bytes& b, std::string_view s) {
    for (char c : s) put16(b, static_cast<std::uint8_t>(c));
    put16(b, 0);
}

// One node of the tree: wLength, wValueLength, wType, szKey, Value, Children,
// each part aligned on 4 bytes from the node's start.
Bytes node(std::string_view key, const Bytes& value, std::uint16_t valueLength, std::uint16_t type,
           const std::vector<Bytes>& children) {
    Bytes b;
    put16(b, 0);
    put16(b, valueLength);
    put16(b, type);
    putText(b, key);
    align4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        align4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    b[0] = static_cast<std::uint8_t>(b.size());
    b[1] = static_cast<std::uint8_t>(b.size() >> 8);
    return b;
}

Bytes stringValue(std::string_view key, std::string_view text) {
    Bytes value;
    putText(value, text);
    return node(key, value, static_cast<std::uint16_t>(text.size() + 1), 1, {});
}

// "1.3.0.81" as the two 32-bit halves of the fixed file info.
void versionNumbers(const char* text, std::uint32_t& ms, std::uint32_t& ls) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    ms = (a & 0xFFFF) << 16 | (b & 0xFFFF);
    ls = (c & 0xFFFF) << 16 | (d & 0xFFFF);
}

}  // namespace

std::vector<std::uint8_t> OwnVersionBlock() {
    Bytes fixed;
    std::uint32_t fileMs, fileLs, productMs, productLs;
    versionNumbers(OwnFileVersion(), fileMs, fileLs);
    versionNumbers(OwnProductVersion(), productMs, productLs);
    put32(fixed, 0xFEEF04BD);
    put32(fixed, 0x00010000);
    put32(fixed, fileMs);
    put32(fixed, fileLs);
    put32(fixed, productMs);
    put32(fixed, productLs);
    put32(fixed, 0x3F);  // flags mask
    put32(fixed, 0);     // flags
    put32(fixed, 0x4);   // VOS__WINDOWS32
    put32(fixed, 0x1);   // VFT_APP
    put32(fixed, 0);
    put32(fixed, 0);
    put32(fixed, 0);

    const std::vector<Bytes> strings = {
        stringValue("CompanyName", ""),      stringValue("FileDescription", ""),
        stringValue("FileVersion", OwnFileVersion()), stringValue("InternalName", ""),
        stringValue("LegalCopyright", ""),   stringValue("LegalTrademarks", ""),
        stringValue("OriginalFilename", ""), stringValue("ProductName", ""),
        stringValue("ProductVersion", OwnProductVersion()), stringValue("Comments", ""),
    };
    Bytes translation;
    put16(translation, 0x040C);  // French
    put16(translation, 1252);    // Western European code page
    return node("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), 0,
                {node("StringFileInfo", {}, 0, 1, {node("040C04E4", {}, 0, 1, strings)}),
                 node("VarFileInfo", {}, 0, 1, {node("Translation", translation, 4, 0, {})})});
}
