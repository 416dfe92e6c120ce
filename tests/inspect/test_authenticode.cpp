// The Authenticode reader: certificate tables built here and damaged on
// purpose, then (natively) real signatures made by osslsigncode with a
// throw-away certificate, whose facts osslsigncode's own verify must agree
// with.
#include <gtest/gtest.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "inspect/pe/authenticode.h"
#include "platform/platform.h"
#include "tests/support/pewriter.h"
#include "tests/support/testutil.h"

using pe::AuthenticodeInfo;
using pe::Damage;
using pe::DigestKind;
using pe::HashMatch;
using Outcome = AuthenticodeInfo::Outcome;
using Bytes = std::vector<std::uint8_t>;

namespace {

// OpenSSL's allocations fail once `allocationsLeft` reaches zero (-1: never).
std::atomic<long> allocationsLeft{-1};
bool allocationAllowed() {
    long left = allocationsLeft.load();
    while (left > 0 && !allocationsLeft.compare_exchange_weak(left, left - 1)) {}
    return left != 0;
}
void* tryMalloc(std::size_t n, const char*, int) { return allocationAllowed() ? std::malloc(n) : nullptr; }
void* tryRealloc(void* p, std::size_t n, const char*, int) { return allocationAllowed() ? std::realloc(p, n) : nullptr; }
void plainFree(void* p, const char*, int) { std::free(p); }
// Before anything allocates: OpenSSL refuses new functions after that.
const bool failingAllocator = CRYPTO_set_mem_functions(tryMalloc, tryRealloc, plainFree) == 1;

AuthenticodeInfo readBytes(const Bytes& b) {
    platform::MemoryByteSource src(b.data(), b.size());
    return pe::readAuthenticode(src);
}

// Where the checksum, data directory 4 and the table it names are.
struct Layout {
    std::uint64_t checksum, entry;
    std::uint32_t offset = 0, size = 0;
};
Layout layoutOf(const Bytes& b) {
    platform::MemoryByteSource src(b.data(), b.size());
    const platform::PeImage image(src);
    Layout l{image.optionalHeader() + 64, image.optionalHeader() + (image.plus() ? 144 : 128)};
    l.offset = image.directory(4).rva;
    l.size = image.directory(4).size;
    return l;
}

// `image` with `table` appended at an 8-byte boundary and named by data
// directory 4 (its size `size`, or the table's own).
Bytes withTable(Bytes image, const Bytes& table, std::uint32_t size = 0) {
    while (image.size() % 8) image.push_back(0);
    const std::uint64_t entry = layoutOf(image).entry;
    pew::put32(image, entry, static_cast<std::uint32_t>(image.size()));
    pew::put32(image, entry + 4, size ? size : static_cast<std::uint32_t>(table.size()));
    image.insert(image.end(), table.begin(), table.end());
    return image;
}

// One WIN_CERTIFICATE, padded to 8 bytes; dwLength as given or its own.
Bytes certificate(std::uint16_t type, const Bytes& blob, std::uint32_t length = 0) {
    Bytes e(8);
    pew::put32(e, 0, length ? length : static_cast<std::uint32_t>(8 + blob.size()));
    pew::put16(e, 4, 0x0200);
    pew::put16(e, 6, type);
    e.insert(e.end(), blob.begin(), blob.end());
    while (e.size() % 8) e.push_back(0);
    return e;
}

TEST(AuthenticodeTable, UnsignedImagesAndOthers) {
    for (bool plus : {false, true}) {
        pew::Image img;
        img.pe32plus = plus;
        EXPECT_EQ(readBytes(pew::build(img)).outcome, Outcome::Unsigned);
    }
    EXPECT_EQ(readBytes(Bytes(4096, 'M')).outcome, Outcome::NotPe);
    EXPECT_EQ(pe::readAuthenticode(std::string("/nonexistent/file.dll")).outcome, Outcome::NotPe);
    // Wine's DLLs carry no signature; none may read otherwise.
    std::error_code ec;
    unsigned seen = 0;
    if (const std::string wine = testutil::wineX64Folder(); !wine.empty()) {
        for (const auto& e : std::filesystem::directory_iterator(testutil::u8(wine), ec))
            if (e.path().extension() == ".dll" && ++seen <= 200) {
                EXPECT_EQ(pe::readAuthenticode(testutil::str(e.path())).outcome, Outcome::Unsigned) << e.path();
            }
        EXPECT_GT(seen, 100u);
    }
}

TEST(AuthenticodeTable, DamagedTablesAreReported) {
    const Bytes image = pew::build(pew::Image{});
    const Bytes garbage{0x30, 0x82, 0x00, 0x10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Bytes huge{0x30, 0x84, 0x00, 0x10, 0x00, 0x00, 0, 0};  // a megabyte announced in eight bytes
    Bytes tooLarge(pe::kMaxSignatureBlob + 64);
    const std::size_t announced = tooLarge.size() - 6;
    tooLarge[0] = 0x30;
    tooLarge[1] = 0x84;
    for (int i = 0; i < 4; ++i) tooLarge[2 + i] = static_cast<std::uint8_t>(announced >> (24 - 8 * i));
    Bytes many;
    for (int i = 0; i < 1000; ++i) {
        const Bytes e = certificate(pe::kCertTypeX509, {});
        many.insert(many.end(), e.begin(), e.end());
    }
    struct Case {
        const char* name;
        Bytes file;
        Outcome outcome;
        Damage damage;
    } cases[] = {
        {"off the file", withTable(image, certificate(2, garbage), 4096), Outcome::Damaged, Damage::TableOutsideFile},
        {"length below 8", withTable(image, certificate(2, garbage, 3)), Outcome::Damaged, Damage::EntryLength},
        {"length past the table", withTable(image, certificate(2, garbage, 4000)), Outcome::Damaged, Damage::EntryLength},
        {"X.509 entry", withTable(image, certificate(pe::kCertTypeX509, garbage)), Outcome::Damaged,
         Damage::UnsupportedEntry},
        {"not PKCS#7", withTable(image, certificate(2, garbage)), Outcome::Damaged, Damage::NotSignedData},
        {"DER past its entry", withTable(image, certificate(2, huge)), Outcome::Damaged, Damage::BlobOutsideEntry},
        {"DER too large", withTable(image, certificate(2, tooLarge)), Outcome::Damaged, Damage::BlobTooLarge},
        {"a thousand entries", withTable(image, many), Outcome::Damaged, Damage::TooManyEntries},
        {"size not the entries'", withTable(image, certificate(2, garbage), 36), Outcome::Damaged,
         Damage::TableSizeMismatch},
    };
    for (const Case& c : cases) {
        const AuthenticodeInfo a = readBytes(c.file);
        EXPECT_EQ(a.outcome, c.outcome) << c.name;
        EXPECT_TRUE(a.has(c.damage)) << c.name;
        EXPECT_LE(a.entries.size(), pe::kMaxCertificateEntries) << c.name;
    }
    Bytes misaligned = withTable(image, certificate(2, garbage));
    pew::put32(misaligned, layoutOf(misaligned).entry, layoutOf(misaligned).offset + 1);
    EXPECT_TRUE(readBytes(misaligned).has(Damage::TableMisaligned));
}

#ifndef _WIN32

using testutil::capture;

Bytes readFile(const std::string& path) {
    std::ifstream in(testutil::u8(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string sh(const std::string& command) { return capture(command + " 2>&1"); }

// The value after `label` on each line holding it, trimmed.
std::vector<std::string> values(const std::string& text, const std::string& label) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (const auto at = line.find(label); at != std::string::npos) {
            std::string v = line.substr(at + label.size());
            v.erase(0, v.find_first_not_of(" :\t"));
            v.erase(v.find_last_not_of(" \t\r") + 1);
            out.push_back(v);
        }
    return out;
}

std::string upperHex(const Bytes& b) {
    std::string s;
    char buf[3];
    for (std::uint8_t c : b) s += (std::snprintf(buf, sizeof buf, "%02X", c), buf);
    return s;
}

class Signing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testutil::haveCommand("osslsigncode") || !testutil::haveCommand("openssl")) return;
        dir_ = new testutil::TempDir;
        const std::string req = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 ";
        sh(req + "-subj '/O=Tavelin Test/CN=Tavelin Signer' -addext extendedKeyUsage=codeSigning -keyout " +
           file("key.pem") + " -out " + file("cert.pem"));
        sh(req + "-subj '/O=Tavelin TSA/CN=Tavelin Timestamps' -addext extendedKeyUsage=critical,timeStamping -keyout " +
           file("tsakey.pem") + " -out " + file("tsa.pem"));
        pew::Image pe32, pe64;
        pe64.pe32plus = true;
        pew::writeFile(file("pe32.exe"), pew::build(pe32.import("KERNEL32.dll", {{"ExitProcess"}})));
        pew::writeFile(file("pe64.exe"), pew::build(pe64.import("KERNEL32.dll", {{"ExitProcess"}})));
        inputs_ = {file("pe32.exe"), file("pe64.exe")};
        for (const char* real : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/version.dll",
                                 "/usr/lib/i386-linux-gnu/wine/i386-windows/version.dll"})
            if (std::filesystem::exists(real)) inputs_.push_back(real);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "osslsigncode or openssl missing";
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    // Signs `in` into `out` with the throw-away certificate and `options`.
    static void sign(const std::string& in, const std::string& out, const std::string& options) {
        std::filesystem::remove(out);
        const std::string log = sh("osslsigncode sign -certs " + file("cert.pem") + " -key " + file("key.pem") + " " +
                                   options + " -in '" + in + "' -out " + out);
        ASSERT_TRUE(std::filesystem::exists(out)) << log;
    }
    static std::string verify(const std::string& path) {
        return sh("osslsigncode verify -CAfile " + file("cert.pem") + " -TSA-CAfile " + file("tsa.pem") + " -in " + path);
    }

    static testutil::TempDir* dir_;
    static std::vector<std::string> inputs_;
};
testutil::TempDir* Signing::dir_ = nullptr;
std::vector<std::string> Signing::inputs_;

// Each signature's digest, signer and timestamp as osslsigncode reads them.
TEST_F(Signing, FactsAgreeWithOsslsigncode) {
    const std::string ts = "-TSA-certs " + file("tsa.pem") + " -TSA-key " + file("tsakey.pem") + " -TSA-time 1700000000";
    for (const std::string& in : inputs_) {
        sign(in, file("sha256.exe"), "-h sha256");
        sign(in, file("sha1.exe"), "-h sha1");
        sign(file("sha1.exe"), file("dual.exe"), "-nest -h sha256");
        sign(in, file("stamped.exe"), "-h sha384 " + ts);
        struct Case {
            const char* name;
            std::vector<DigestKind> digests;
            bool stamped;
        } cases[] = {{"sha256.exe", {DigestKind::Sha256}, false},
                     {"sha1.exe", {DigestKind::Sha1}, false},
                     {"dual.exe", {DigestKind::Sha1, DigestKind::Sha256}, false},
                     {"stamped.exe", {DigestKind::Sha384}, true}};
        for (const Case& c : cases) {
            SCOPED_TRACE(in + " " + c.name);
            const std::string path = file(c.name);
            const AuthenticodeInfo a = pe::readAuthenticode(path);
            const std::string theirs = verify(path);
            ASSERT_EQ(a.outcome, Outcome::Signed);
            EXPECT_TRUE(a.damages.empty());
            ASSERT_EQ(a.signatures.size(), c.digests.size());
            EXPECT_EQ(a.sha1Only(), c.digests.size() == 1 && c.digests[0] == DigestKind::Sha1);
            EXPECT_FALSE(a.changed());
            EXPECT_FALSE(a.signedByMicrosoft());
            const auto current = values(theirs, "Current message digest");
            const auto calculated = values(theirs, "Calculated message digest");
            ASSERT_EQ(current.size(), c.digests.size()) << theirs;
            ASSERT_EQ(calculated.size(), c.digests.size()) << theirs;
            for (std::size_t i = 0; i < a.signatures.size(); ++i) {
                const pe::Signature& s = a.signatures[i];
                EXPECT_EQ(s.depth, i);
                EXPECT_EQ(s.digest, c.digests[i]);
                EXPECT_EQ(s.match, HashMatch::Matches);
                EXPECT_EQ(s.signer, pe::SignerCheck::Intact);
                EXPECT_EQ(upperHex(s.signedDigest), current[i]);
                EXPECT_EQ(upperHex(s.fileDigest), calculated[i]);
                EXPECT_EQ(s.subject.organization, "Tavelin Test");
                EXPECT_EQ(s.subject.commonName, "Tavelin Signer");
                EXPECT_EQ(s.issuer.commonName, "Tavelin Signer");
                EXPECT_TRUE(s.signingTime.present);
                std::string serial = s.serialNumber;
                for (char& ch : serial) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                EXPECT_NE(theirs.find("Serial : " + serial), std::string::npos);
            }
            const pe::Timestamp& t = a.signatures[0].timestamp;
            EXPECT_EQ(t.kind, c.stamped ? pe::TimestampKind::Rfc3161 : pe::TimestampKind::None);
            if (c.stamped) {
                EXPECT_EQ(t.time.text(), "2023-11-14T22:13:20Z");
                EXPECT_EQ(values(theirs, "Timestamp time"), std::vector<std::string>{"Nov 14 22:13:20 2023 GMT"});
                EXPECT_EQ(t.signer.commonName, "Tavelin Timestamps");
                EXPECT_TRUE(t.coversSignature);
            }
        }
    }
    // extract-signature gives the blob the entry holds, padding aside.
    sh("osslsigncode extract-signature -in " + file("dual.exe") + " -out " + file("dual.der"));
    const AuthenticodeInfo a = pe::readAuthenticode(file("dual.exe"));
    ASSERT_EQ(a.entries.size(), 1u);
    const std::uint64_t blob = std::filesystem::file_size(file("dual.der"));
    EXPECT_LE(blob + 8, a.entries[0].length);
    EXPECT_GT(blob + 16, a.entries[0].length);
}

TEST_F(Signing, ChangesAfterSigning) {
    sign(inputs_.back(), file("signed.exe"), "-h sha256");
    const Bytes signedFile = readFile(file("signed.exe"));
    const Layout table = layoutOf(signedFile);

    Bytes flipped = signedFile;
    flipped[table.offset - 100] ^= 1;  // the last section's bytes
    pew::writeFile(file("flipped.exe"), flipped);
    const AuthenticodeInfo a = pe::readAuthenticode(file("flipped.exe"));
    ASSERT_EQ(a.outcome, Outcome::Signed);
    EXPECT_TRUE(a.changed());
    const std::string theirs = values(verify(file("flipped.exe")), "Calculated message digest").at(0);
    EXPECT_EQ(upperHex(a.signatures[0].fileDigest), theirs.substr(0, theirs.find(' ')));
    EXPECT_NE(a.signatures[0].fileDigest, a.signatures[0].signedDigest);

    Bytes checksum = signedFile;  // the checksum is no part of the hash
    checksum[table.checksum] ^= 0xFF;
    EXPECT_FALSE(readBytes(checksum).changed());

    Bytes appended = signedFile;  // after the table: hashed, and said
    appended.insert(appended.end(), 16, 0xAB);
    const AuthenticodeInfo after = readBytes(appended);
    EXPECT_TRUE(after.has(Damage::DataAfterTable));
    EXPECT_EQ(after.bytesAfterTable, 16u);
    EXPECT_TRUE(after.changed());

    Bytes hidden = signedFile;  // inside the entry: neither signed nor hashed
    hidden.insert(hidden.end(), 64, 0xCD);
    pew::put32(hidden, table.offset, static_cast<std::uint32_t>(hidden.size() - table.offset));
    pew::put32(hidden, table.entry + 4, static_cast<std::uint32_t>(hidden.size() - table.offset));
    const AuthenticodeInfo inside = readBytes(hidden);
    EXPECT_TRUE(inside.has(Damage::ExtraDataInEntry));
    EXPECT_FALSE(inside.changed());
}

// Signatures nested past the reader's bound: the first ones read, the rest
// said to be left out.
TEST_F(Signing, ManyNestedSignatures) {
    sign(inputs_.front(), file("nest0.exe"), "-h sha256");
    for (std::size_t i = 1; i <= pe::kMaxSignatures; ++i)
        sign(file("nest" + std::to_string(i - 1) + ".exe"), file("nest" + std::to_string(i) + ".exe"), "-nest -h sha1");
    const AuthenticodeInfo a = pe::readAuthenticode(file("nest" + std::to_string(pe::kMaxSignatures) + ".exe"));
    EXPECT_EQ(a.outcome, Outcome::Signed);
    EXPECT_EQ(a.signatures.size(), pe::kMaxSignatures);
    EXPECT_TRUE(a.has(Damage::TooManySignatures));
    EXPECT_FALSE(a.changed());
    EXPECT_FALSE(a.sha1Only());
}

// Every byte of the blob spoilt in turn, and every cut of the table: what
// OpenSSL rejects is reported, nothing crashes, and a signature read from a
// spoilt blob is never Intact.
TEST_F(Signing, DamagedBlobs) {
    sign(inputs_.front(), file("signed.exe"), "-h sha256 -TSA-certs " + file("tsa.pem") + " -TSA-key " + file("tsakey.pem"));
    const Bytes good = readFile(file("signed.exe"));
    const Layout table = layoutOf(good);
    unsigned damaged = 0, broken = 0;
    for (std::uint32_t i = table.offset + 8; i < table.offset + table.size; i += 7) {
        Bytes bad = good;
        bad[i] ^= 0x5A;
        const AuthenticodeInfo a = readBytes(bad);
        ASSERT_NE(a.outcome, Outcome::OutOfMemory);
        damaged += a.outcome == Outcome::Damaged;
        if (a.outcome == Outcome::Signed)
            for (const pe::Signature& s : a.signatures) broken += s.signer != pe::SignerCheck::Intact || s.timestamp.damaged ||
                                                                (s.timestamp.kind != pe::TimestampKind::None && !s.timestamp.coversSignature);
    }
    EXPECT_GT(damaged, 0u);
    EXPECT_GT(broken, 0u);
    for (std::uint32_t cut = table.offset; cut < good.size(); cut += 97) {
        const AuthenticodeInfo a = readBytes(Bytes(good.begin(), good.begin() + cut));
        EXPECT_TRUE(a.has(Damage::TableOutsideFile));
        EXPECT_EQ(a.outcome, Outcome::Damaged);
    }
}

// A countersignature as Authenticode's own timestamp servers gave them,
// added here with OpenSSL (osslsigncode asks a server for it); osslsigncode
// must read the same time.
TEST_F(Signing, LegacyCountersignature) {
    sign(inputs_.front(), file("signed.exe"), "-h sha256");
    Bytes image = readFile(file("signed.exe"));
    const Layout table = layoutOf(image);
    const unsigned char* p = image.data() + table.offset + 8;
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, table.size - 8);
    ASSERT_NE(p7, nullptr);
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
    BIO* pem = BIO_new_file(file("tsa.pem").c_str(), "r");
    X509* cert = PEM_read_bio_X509(pem, nullptr, nullptr, nullptr);
    BIO_free(pem);
    pem = BIO_new_file(file("tsakey.pem").c_str(), "r");
    EVP_PKEY* key = PEM_read_bio_PrivateKey(pem, nullptr, nullptr, nullptr);
    BIO_free(pem);
    ASSERT_TRUE(cert && key);

    PKCS7_SIGNER_INFO* counter = PKCS7_SIGNER_INFO_new();
    ASSERT_EQ(PKCS7_SIGNER_INFO_set(counter, cert, key, EVP_sha1()), 1);
    PKCS7_add_signed_attribute(counter, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data));
    PKCS7_add0_attrib_signing_time(counter, ASN1_TIME_set(nullptr, 1600000000));
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    EVP_Digest(si->enc_digest->data, static_cast<std::size_t>(si->enc_digest->length), md, &mdLength, EVP_sha1(), nullptr);
    PKCS7_add1_attrib_digest(counter, md, static_cast<int>(mdLength));
    ASSERT_EQ(PKCS7_SIGNER_INFO_sign(counter), 1);
    unsigned char* der = nullptr;
    const int derLength = i2d_PKCS7_SIGNER_INFO(counter, &der);
    ASN1_STRING* sequence = ASN1_STRING_new();
    ASN1_STRING_set(sequence, der, derLength);
    PKCS7_add_attribute(si, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, sequence);
    PKCS7_add_certificate(p7, cert);
    unsigned char* blob = nullptr;
    const int blobLength = i2d_PKCS7(p7, &blob);
    image.resize(table.offset);
    image = withTable(image, certificate(2, Bytes(blob, blob + blobLength)));
    OPENSSL_free(der);
    OPENSSL_free(blob);
    PKCS7_SIGNER_INFO_free(counter);
    PKCS7_free(p7);
    X509_free(cert);
    EVP_PKEY_free(key);

    pew::writeFile(file("legacy.exe"), image);
    const AuthenticodeInfo a = pe::readAuthenticode(file("legacy.exe"));
    ASSERT_EQ(a.outcome, Outcome::Signed);
    const pe::Timestamp& t = a.signatures[0].timestamp;
    EXPECT_EQ(t.kind, pe::TimestampKind::Legacy);
    EXPECT_EQ(t.time.text(), "2020-09-13T12:26:40Z");
    EXPECT_EQ(t.signer.organization, "Tavelin TSA");
    EXPECT_TRUE(t.coversSignature);
    EXPECT_EQ(a.signatures[0].match, HashMatch::Matches);
    EXPECT_NE(verify(file("legacy.exe")).find("Sep 13 12:26:40 2020 GMT"), std::string::npos);
}

// OpenSSL's allocations failing one after the other: each read either
// succeeds whole or says it ran out of memory.
TEST_F(Signing, OutOfMemoryIsAnOutcome) {
    if (!failingAllocator) GTEST_SKIP() << "OpenSSL allocated before the test could replace its allocator";
    const std::string ts = " -TSA-certs " + file("tsa.pem") + " -TSA-key " + file("tsakey.pem");
    sign(inputs_.front(), file("once.exe"), "-h sha1" + ts);
    sign(file("once.exe"), file("signed.exe"), "-nest -h sha256" + ts);
    const Bytes good = readFile(file("signed.exe"));
    // OpenSSL's own setup failing stays failed for the process (the reader
    // then says so each time): set up first, so that the reads are tested.
    ASSERT_EQ(readBytes(good).outcome, Outcome::Signed);
    unsigned failed = 0;
    for (long budget = 0;; budget += 1 + budget / 16) {
        allocationsLeft = budget;
        const AuthenticodeInfo a = readBytes(good);
        const bool ranOut = allocationsLeft == 0;
        allocationsLeft = -1;
        if (!ranOut) {
            EXPECT_EQ(a.outcome, Outcome::Signed);
            break;
        }
        ++failed;
        EXPECT_EQ(a.outcome, Outcome::OutOfMemory) << "after " << budget << " allocations";
    }
    EXPECT_GT(failed, 10u);
}

#endif

}  // namespace
