// Authenticode signatures of a PE image, read offline: the certificate
// table (data directory 4, whose address is a file offset), each PKCS#7
// SignedData in it parsed by OpenSSL, the signatures nested in them and
// their timestamps, and the image's own Authenticode hash, computed in one
// streaming pass and compared with the digest each signature signed.
//
// Nothing is trusted or distrusted: no root store is consulted and no
// certificate chain is built. The result says what the file holds, whether
// each signer's signature checks out with the key of its own certificate,
// and whether the file is still the one that was signed.
//
// Bounded like the other readers: the table by the directory and the file,
// its walk by kMaxCertificateEntries, each blob by kMaxSignatureBlob, the
// nesting by kMaxSignatures. Never throws; running out of memory, in
// OpenSSL or here, is an outcome.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/peimage.h"

namespace pe {

enum class DigestKind { Unknown, Md5, Sha1, Sha256, Sha384, Sha512 };
// "MD5", "SHA-1", "SHA-256", "SHA-384", "SHA-512"; "" for Unknown.
const char* digestName(DigestKind kind);
// MD5 and SHA-1: no longer accepted for new signatures.
inline bool weakDigest(DigestKind kind) { return kind == DigestKind::Md5 || kind == DigestKind::Sha1; }

// The organization (O) and common name (CN) of an X.509 name, UTF-8,
// control characters as '?', cut at kMaxNameText bytes; empty when absent.
struct NameFields {
    std::string organization, commonName;
};
constexpr std::size_t kMaxNameText = 1024;

// A time the signature holds, UTC.
struct SignedTime {
    bool present = false;
    std::int64_t unixSeconds = 0;
    // "2023-11-14T22:13:20Z"; empty when absent.
    std::string text() const;
};

enum class TimestampKind {
    None,
    Legacy,   // an Authenticode countersignature (1.2.840.113549.1.9.6)
    Rfc3161,  // an RFC 3161 token (1.3.6.1.4.1.311.3.3.1)
};

struct Timestamp {
    TimestampKind kind = TimestampKind::None;
    SignedTime time;   // the countersigner's signing time, or the token's genTime
    NameFields signer;  // the timestamp authority's certificate, when the blob carries it
    // The token (or countersignature) stamps this signature: the digest it
    // holds is that of the signer's signature value.
    bool coversSignature = false;
    bool damaged = false;  // present, but its content could not be read
};

// Whether the file's Authenticode hash is the digest the signature signed.
enum class HashMatch {
    NotComputed,  // unknown digest algorithm, no digest in the signature, or hashing left out
    Matches,
    Changed,      // the file changed after signing
    Unreadable,   // the file could not be read to its end while hashing
};

// Whether the signer's signature checks out with the public key of the
// certificate it names (no chain, no trust): the signed attributes' message
// digest is that of the signed content, and the signature is over them.
enum class SignerCheck { NotChecked, Intact, Broken };

struct Signature {
    unsigned entry = 0;  // its certificate table entry
    unsigned depth = 0;  // 0: the entry's own signature; 1: nested in it; ...

    DigestKind digest = DigestKind::Unknown;  // the SpcIndirectDataContent's
    std::string digestOid;                    // its algorithm's OID, also when unknown
    std::vector<std::uint8_t> signedDigest;   // as signed; empty when the content holds none
    std::vector<std::uint8_t> fileDigest;     // the file's, computed with the same algorithm
    HashMatch match = HashMatch::NotComputed;

    SignerCheck signer = SignerCheck::NotChecked;
    NameFields subject, issuer;  // of the signer's certificate (the issuer from the signer info without it)
    std::string serialNumber;   // lower-case hex, as stored
    bool signerCertificate = false;  // the blob carries the signer's certificate
    SignedTime signingTime;          // the signingTime attribute, rarely present
    Timestamp timestamp;

    // The subject's O is exactly "Microsoft Corporation".
    bool microsoft() const { return subject.organization == "Microsoft Corporation"; }
};

// A WIN_CERTIFICATE of the table.
struct CertificateEntry {
    std::uint64_t offset = 0;  // file offset of its header
    std::uint32_t length = 0;  // dwLength: header and bCertificate
    std::uint16_t revision = 0, type = 0;
};
constexpr std::uint16_t kCertTypeX509 = 1, kCertTypePkcsSignedData = 2;

// What was found wrong, with where: `entry` the certificate entry (-1 for
// the table as a whole), `signature` the index in `signatures` (-1 when it
// is none of them).
enum class Damage {
    TableOutsideFile,     // the directory's range runs off the file
    TableMisaligned,      // the table does not start on an 8-byte boundary
    EntryLength,          // a dwLength below 8 or past the table's end
    TableSizeMismatch,    // bytes after the last entry that are not its padding
    TooManyEntries,       // more than kMaxCertificateEntries; the rest not read
    UnsupportedEntry,     // an entry that is not PKCS#7 SignedData (X.509, reserved, ...): not read
    BlobTooLarge,         // over kMaxSignatureBlob
    BlobOutsideEntry,     // the DER object runs past its entry
    NotSignedData,        // not PKCS#7 SignedData, or OpenSSL cannot parse it
    NotAuthenticode,      // SignedData, but its content holds no Authenticode digest
    NoSigner,             // no signer info (or several: the first is read)
    ExtraDataInEntry,     // bytes after the DER object beyond its zero padding: not signed, not hashed
    DataAfterTable,       // the file goes on after the table: hashed, so the file reads as changed
    TooManySignatures,    // nesting past kMaxSignatures or kMaxNestingDepth; the rest not read
    TimestampUnreadable,  // a timestamp attribute whose content cannot be read
};
// A short French description, for lines and tool tips.
const char* damageText(Damage damage);

struct DamageAt {
    Damage what;
    int entry = -1;
    int signature = -1;
};

constexpr std::size_t kMaxCertificateEntries = 64;
constexpr std::size_t kMaxDamages = 64;  // past it, only kinds not yet listed
// Real signatures, nested ones and their certificates included, stay well
// below a megabyte.
constexpr std::size_t kMaxSignatureBlob = 4u << 20;
constexpr std::size_t kMaxSignatures = 32;
constexpr unsigned kMaxNestingDepth = 4;

struct AuthenticodeInfo {
    enum class Outcome {
        NotPe,        // no PE optional header to read (or, by path, a file that cannot be opened)
        Unsigned,     // no certificate table (directory 4 empty or missing)
        Signed,       // at least one signature read; `damages` may still list problems
        Damaged,      // a table, but no signature could be read from it (see `damages`)
        OutOfMemory,  // OpenSSL or this reader ran out of memory; nothing else is reliable
    };
    Outcome outcome = Outcome::NotPe;

    std::uint64_t tableOffset = 0, tableSize = 0;  // the directory, as stored
    std::vector<CertificateEntry> entries;
    // The entries' signatures in table order, each followed by those nested
    // in it (depth first).
    std::vector<Signature> signatures;
    std::vector<DamageAt> damages;
    std::uint64_t bytesAfterTable = 0;  // DataAfterTable: how many
    bool hashed = false;                // the file's hash was computed

    bool has(Damage d) const;
    // Every signature signs with MD5 or SHA-1 (none with SHA-2).
    bool sha1Only() const;
    // Some signature's digest is not the file's: changed after signing.
    bool changed() const;
    // The first signature (the one Windows shows) is Microsoft's.
    bool signedByMicrosoft() const { return !signatures.empty() && signatures.front().microsoft(); }
};

// Reads the certificate table of `image` (headers read here when they are
// not yet) and, with `hash`, computes the file's Authenticode hash with each
// digest algorithm its signatures name. The hash is one pass over the file
// in 64 KiB reads feeding every algorithm at once: a 100 MB image costs one
// read of it and a few megabytes of memory whatever its signatures; without
// `hash` only the table is read.
AuthenticodeInfo readAuthenticode(const platform::PeImage& image, bool hash = true);
AuthenticodeInfo readAuthenticode(const platform::ByteSource& file, bool hash = true);
AuthenticodeInfo readAuthenticode(const std::string& path, bool hash = true);

// The Authenticode hash of the image alone: the whole file but the checksum
// field, the certificate table's directory entry and the table itself (data
// after the table included), zero-padded to an 8-byte boundary where the
// hashed data ends off one, read in bounded chunks. False for Unknown, a
// file without an optional header, a read that fails, or memory running
// out.
bool authenticodeHash(const platform::PeImage& image, DigestKind kind, std::vector<std::uint8_t>& out);

}  // namespace pe
