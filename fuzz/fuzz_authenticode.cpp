// The Authenticode reader on arbitrary bytes: a whole image when they start
// with "MZ", else a certificate table appended to a small image of the
// tests' writer and named by its data directory 4, so that the fuzzer spends
// its time in the table walk and in OpenSSL's PKCS#7 parse rather than in
// finding PE headers. What comes out must hold to the reader's bounds.
#include <cstdint>
#include <cstring>
#include <vector>

#include "inspect/pe/authenticode.h"
#include "tests/support/pewriter.h"

namespace {

void checkName(const std::string& s) {
    if (s.size() > pe::kMaxNameText) __builtin_trap();
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) __builtin_trap();
}

void check(const pe::AuthenticodeInfo& a) {
    using Outcome = pe::AuthenticodeInfo::Outcome;
    if (a.entries.size() > pe::kMaxCertificateEntries || a.signatures.size() > pe::kMaxSignatures ||
        a.damages.size() > pe::kMaxDamages + 16)
        __builtin_trap();
    if (a.outcome == Outcome::Signed && a.signatures.empty()) __builtin_trap();
    if ((a.outcome == Outcome::Unsigned || a.outcome == Outcome::NotPe || a.outcome == Outcome::Damaged) &&
        !a.signatures.empty())
        __builtin_trap();
    for (const pe::Signature& s : a.signatures) {
        if (s.entry >= a.entries.size() || s.depth > pe::kMaxNestingDepth) __builtin_trap();
        if (s.match == pe::HashMatch::Matches && s.fileDigest != s.signedDigest) __builtin_trap();
        for (const pe::NameFields* n : {&s.subject, &s.issuer, &s.timestamp.signer}) {
            checkName(n->organization);
            checkName(n->commonName);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> base = [] {
        pew::Image img;
        img.pe32plus = true;
        std::vector<std::uint8_t> b = pew::build(img.import("KERNEL32.dll", {{"ExitProcess"}}));
        b.resize((b.size() + 7) / 8 * 8);
        return b;
    }();
    std::vector<std::uint8_t> file;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        file.assign(data, data + size);
    } else {
        file = base;
        platform::MemoryByteSource src(base.data(), base.size());
        const platform::PeImage image(src);
        const std::uint64_t entry = image.optionalHeader() + 144;
        pew::put32(file, entry, static_cast<std::uint32_t>(base.size()));
        pew::put32(file, entry + 4, static_cast<std::uint32_t>(size));
        file.insert(file.end(), data, data + size);
    }
    platform::MemoryByteSource src(file.data(), file.size());
    check(pe::readAuthenticode(src));
    return 0;
}
