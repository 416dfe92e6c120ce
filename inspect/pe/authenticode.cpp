#include "inspect/pe/authenticode.h"

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace pe {

namespace {

constexpr unsigned kCertificateDirectory = 4;
constexpr std::uint64_t kChecksumField = 64;  // from the optional header's start
constexpr std::uint64_t kCertificateEntry32 = 128, kCertificateEntry64 = 144;
constexpr std::size_t kHashChunk = 64 * 1024;

constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
constexpr char kRfc3161Token[] = "1.3.6.1.4.1.311.3.3.1";

template <class T, void (*F)(T*)>
struct Freer {
    void operator()(T* p) const { F(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, Freer<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>>;
using DigestInfoPtr = std::unique_ptr<X509_SIG, Freer<X509_SIG, X509_SIG_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, Freer<TS_TST_INFO, TS_TST_INFO_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo, CMS_ContentInfo_free>>;
void freeCertificates(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
using X509Stack = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), freeCertificates>>;
void freeAny(STACK_OF(ASN1_TYPE) * s) { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
using AnySequencePtr = std::unique_ptr<STACK_OF(ASN1_TYPE), Freer<STACK_OF(ASN1_TYPE), freeAny>>;
void freeBytes(unsigned char* p) { OPENSSL_free(p); }
using OpenSslBytes = std::unique_ptr<unsigned char, Freer<unsigned char, freeBytes>>;

const EVP_MD* digestOf(DigestKind kind) {
    switch (kind) {
        case DigestKind::Md5: return EVP_md5();
        case DigestKind::Sha1: return EVP_sha1();
        case DigestKind::Sha256: return EVP_sha256();
        case DigestKind::Sha384: return EVP_sha384();
        case DigestKind::Sha512: return EVP_sha512();
        case DigestKind::Unknown: break;
    }
    return nullptr;
}

DigestKind kindOf(const ASN1_OBJECT* algorithm) {
    switch (OBJ_obj2nid(algorithm)) {
        case NID_md5: return DigestKind::Md5;
        case NID_sha1: return DigestKind::Sha1;
        case NID_sha256: return DigestKind::Sha256;
        case NID_sha384: return DigestKind::Sha384;
        case NID_sha512: return DigestKind::Sha512;
    }
    return DigestKind::Unknown;
}

std::string oidText(const ASN1_OBJECT* object) {
    char buf[128];
    const int n = OBJ_obj2txt(buf, sizeof buf, object, 1);
    return n > 0 ? std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1)) : std::string();
}

bool isOid(const ASN1_OBJECT* object, const char* oid) { return object && oidText(object) == oid; }

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// algorithm): timegm is not everywhere.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

SignedTime timeOf(const ASN1_TIME* t) {
    SignedTime out;
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return out;
    out.present = true;
    out.unixSeconds = daysFromCivil(tm.tm_year + 1900LL, static_cast<unsigned>(tm.tm_mon + 1),
                                    static_cast<unsigned>(tm.tm_mday)) *
                          86400 +
                      tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
    return out;
}

SignedTime timeOf(const ASN1_TYPE* attribute) {
    if (!attribute || (attribute->type != V_ASN1_UTCTIME && attribute->type != V_ASN1_GENERALIZEDTIME)) return {};
    return timeOf(attribute->value.asn1_string);
}

std::string hexOf(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

// Each call to OpenSSL that can fail is followed by a look at its error
// queue: a failed allocation anywhere in it is an outcome of its own.
struct Context {
    AuthenticodeInfo& out;
    bool outOfMemory = false;

    void drainErrors() {
        while (const unsigned long e = ERR_get_error())
            if (ERR_GET_REASON(e) == ERR_GET_REASON(ERR_R_MALLOC_FAILURE)) outOfMemory = true;
    }
    // A blob of a million bad values says the same a few times; a kind not
    // yet listed always is.
    void damage(Damage what, int entry, int signature = -1) {
        if (out.damages.size() < kMaxDamages || !out.has(what)) out.damages.push_back({what, entry, signature});
    }
};

std::string nameEntry(Context& ctx, const X509_NAME* name, int nid) {
    const int i = name ? X509_NAME_get_index_by_NID(name, nid, -1) : -1;
    if (i < 0) return {};
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i));
    unsigned char* utf8 = nullptr;
    const int n = data ? ASN1_STRING_to_UTF8(&utf8, data) : -1;
    if (n < 0) {
        ctx.drainErrors();
        return {};
    }
    OpenSslBytes owned(utf8);
    std::size_t len = std::min<std::size_t>(static_cast<std::size_t>(n), kMaxNameText);
    while (len > 0 && len < static_cast<std::size_t>(n) && (utf8[len] & 0xC0) == 0x80) --len;  // whole characters
    std::string s(reinterpret_cast<const char*>(utf8), len);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return s;
}

NameFields fieldsOf(Context& ctx, const X509_NAME* name) {
    return {nameEntry(ctx, name, NID_organizationName), nameEntry(ctx, name, NID_commonName)};
}

X509* certificateOf(STACK_OF(X509) * certs, const PKCS7_ISSUER_AND_SERIAL* id) {
    if (!certs || !id || !id->issuer || !id->serial) return nullptr;
    return X509_find_by_issuer_and_serial(certs, id->issuer, id->serial);
}

// The value octets of a DER object: the content a PKCS#7 message digest is
// computed over.
bool contentOctets(const ASN1_STRING* der, const unsigned char*& data, long& length) {
    if (!der || der->length <= 0) return false;
    const unsigned char* p = der->data;
    int tag = 0, cls = 0;
    const int r = ASN1_get_object(&p, &length, &tag, &cls, der->length);
    if (r & 0x80) return false;
    data = p;
    if (r & 1) length = der->length - (p - der->data);  // indefinite: to the end
    return length >= 0 && length <= der->length - (p - der->data);
}

bool digestEquals(Context& ctx, const EVP_MD* md, const unsigned char* data, std::size_t size,
                  const ASN1_OCTET_STRING* expected) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!md || !expected || EVP_Digest(data, size, digest, &n, md, nullptr) != 1) {
        ctx.drainErrors();
        return false;
    }
    return static_cast<int>(n) == expected->length && std::memcmp(digest, expected->data, n) == 0;
}

const ASN1_OCTET_STRING* octets(const ASN1_TYPE* t) {
    return t && t->type == V_ASN1_OCTET_STRING ? t->value.octet_string : nullptr;
}

// The signer's signature, with the key of its own certificate: the message
// digest attribute against the content, then the signature over the
// attributes (as the DER SET they are signed as), or over the content when
// there are none.
SignerCheck checkSigner(Context& ctx, PKCS7_SIGNER_INFO* si, X509* cert, const unsigned char* content,
                        std::size_t contentSize) {
    if (!cert || !si->digest_alg || !si->enc_digest) return SignerCheck::NotChecked;
    if (si->digest_enc_alg && OBJ_obj2nid(si->digest_enc_alg->algorithm) == NID_rsassaPss)
        return SignerCheck::NotChecked;  // its parameters would have to be applied
    const EVP_MD* md = EVP_get_digestbyobj(si->digest_alg->algorithm);
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (!md || !key) {
        ctx.drainErrors();
        return SignerCheck::NotChecked;
    }
    OpenSslBytes attributes;
    const unsigned char* signedData = content;
    std::size_t signedSize = contentSize;
    if (sk_X509_ATTRIBUTE_num(si->auth_attr) > 0) {
        if (!digestEquals(ctx, md, content, contentSize, octets(PKCS7_get_signed_attribute(si, NID_pkcs9_messageDigest))))
            return ctx.outOfMemory ? SignerCheck::NotChecked : SignerCheck::Broken;
        unsigned char* der = nullptr;
        const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &der, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
        if (n <= 0) {
            ctx.drainErrors();
            return SignerCheck::NotChecked;
        }
        attributes.reset(der);
        signedData = der;
        signedSize = static_cast<std::size_t>(n);
    }
    MdCtxPtr verify(EVP_MD_CTX_new());
    const bool ok = verify && EVP_DigestVerifyInit(verify.get(), nullptr, md, nullptr, key) == 1 &&
                    EVP_DigestVerify(verify.get(), si->enc_digest->data, static_cast<std::size_t>(si->enc_digest->length),
                                     signedData, signedSize) == 1;
    ctx.drainErrors();
    if (!verify || ctx.outOfMemory) return SignerCheck::NotChecked;
    return ok ? SignerCheck::Intact : SignerCheck::Broken;
}

// A timestamp stamps a signature when the digest it holds is that of the
// signature value.
bool stamps(Context& ctx, const ASN1_OBJECT* algorithm, const ASN1_OCTET_STRING* digest, const PKCS7_SIGNER_INFO* si) {
    if (!algorithm || !si->enc_digest) return false;
    return digestEquals(ctx, EVP_get_digestbyobj(algorithm), si->enc_digest->data,
                        static_cast<std::size_t>(si->enc_digest->length), digest);
}

void readCountersignature(Context& ctx, const ASN1_TYPE* value, STACK_OF(X509) * certs, const PKCS7_SIGNER_INFO* si,
                          Timestamp& ts) {
    ts.kind = TimestampKind::Legacy;
    if (!value || value->type != V_ASN1_SEQUENCE) {
        ts.damaged = true;
        return;
    }
    const unsigned char* p = value->value.sequence->data;
    SignerInfoPtr counter(d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
    ctx.drainErrors();
    if (!counter) {
        ts.damaged = true;
        return;
    }
    ts.time = timeOf(PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime));
    if (X509* cert = certificateOf(certs, counter->issuer_and_serial)) ts.signer = fieldsOf(ctx, X509_get_subject_name(cert));
    ts.coversSignature =
        counter->digest_alg &&
        stamps(ctx, counter->digest_alg->algorithm, octets(PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_messageDigest)), si);
}

// The token is CMS SignedData over a TSTInfo; CMS rather than PKCS#7
// because authorities put certificate forms PKCS#7 does not know beside
// their own (Microsoft's do).
void readRfc3161(Context& ctx, const ASN1_TYPE* value, const PKCS7_SIGNER_INFO* si, Timestamp& ts) {
    ts.kind = TimestampKind::Rfc3161;
    ts.damaged = true;
    if (!value || value->type != V_ASN1_SEQUENCE) return;
    const unsigned char* p = value->value.sequence->data;
    CmsPtr token(d2i_CMS_ContentInfo(nullptr, &p, value->value.sequence->length));
    ctx.drainErrors();
    if (!token || OBJ_obj2nid(CMS_get0_type(token.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo)
        return;
    ASN1_OCTET_STRING** info = CMS_get0_content(token.get());
    if (!info || !*info) return;
    const unsigned char* q = (*info)->data;
    TstInfoPtr tst(d2i_TS_TST_INFO(nullptr, &q, (*info)->length));
    ctx.drainErrors();
    if (!tst) return;
    ts.damaged = false;
    ts.time = timeOf(TS_TST_INFO_get_time(tst.get()));
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(token.get());
    if (sk_CMS_SignerInfo_num(signers) > 0) {
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
        X509Stack certs(CMS_get1_certs(token.get()));
        for (int i = 0; i < sk_X509_num(certs.get()); ++i)
            if (X509* cert = sk_X509_value(certs.get(), i); CMS_SignerInfo_cert_cmp(signer, cert) == 0) {
                ts.signer = fieldsOf(ctx, X509_get_subject_name(cert));
                break;
            }
    }
    ctx.drainErrors();
    if (TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst.get())) {
        const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(imprint);
        ts.coversSignature = algorithm && stamps(ctx, algorithm->algorithm, TS_MSG_IMPRINT_get_msg(imprint), si);
    }
}

struct SignedContent {
    const unsigned char* data = nullptr;  // the SpcIndirectDataContent's value octets
    long size = 0;
};

// The SpcIndirectDataContent: SEQUENCE { data SpcAttributeTypeAndOptionalValue,
// messageDigest DigestInfo }; the DigestInfo is OpenSSL's X509_SIG.
bool readIndirectData(Context& ctx, const PKCS7_SIGNED* sd, Signature& sig, SignedContent& content) {
    const PKCS7* inner = sd->contents;
    if (!inner || !isOid(inner->type, kSpcIndirectData) || !inner->d.other || inner->d.other->type != V_ASN1_SEQUENCE)
        return false;
    const ASN1_STRING* der = inner->d.other->value.sequence;
    if (!contentOctets(der, content.data, content.size)) return false;
    const unsigned char* p = der->data;
    AnySequencePtr fields(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, der->length));
    ctx.drainErrors();
    if (!fields || sk_ASN1_TYPE_num(fields.get()) < 2) return false;
    const ASN1_TYPE* digestField = sk_ASN1_TYPE_value(fields.get(), 1);
    if (digestField->type != V_ASN1_SEQUENCE) return false;
    const unsigned char* q = digestField->value.sequence->data;
    DigestInfoPtr info(d2i_X509_SIG(nullptr, &q, digestField->value.sequence->length));
    ctx.drainErrors();
    if (!info) return false;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(info.get(), &algorithm, &digest);
    if (!algorithm || !digest) return false;
    sig.digest = kindOf(algorithm->algorithm);
    sig.digestOid = oidText(algorithm->algorithm);
    sig.signedDigest.assign(digest->data, digest->data + digest->length);
    return true;
}

void readSignedData(Context& ctx, const unsigned char* der, long size, unsigned entry, unsigned depth);

void readSignerInfo(Context& ctx, PKCS7* p7, PKCS7_SIGNER_INFO* si, const SignedContent& content, std::size_t index,
                    unsigned entry, unsigned depth) {
    const PKCS7_SIGNED* sd = p7->d.sign;
    X509* cert = certificateOf(sd->cert, si->issuer_and_serial);
    {
        Signature& sig = ctx.out.signatures[index];
        sig.signerCertificate = cert != nullptr;
        if (cert) {
            sig.subject = fieldsOf(ctx, X509_get_subject_name(cert));
            sig.issuer = fieldsOf(ctx, X509_get_issuer_name(cert));
        } else if (si->issuer_and_serial) {
            sig.issuer = fieldsOf(ctx, si->issuer_and_serial->issuer);
        }
        if (si->issuer_and_serial && si->issuer_and_serial->serial)
            sig.serialNumber = hexOf(si->issuer_and_serial->serial->data,
                                     static_cast<std::size_t>(si->issuer_and_serial->serial->length));
        sig.signingTime = timeOf(PKCS7_get_signed_attribute(si, NID_pkcs9_signingTime));
        if (content.data) sig.signer = checkSigner(ctx, si, cert, content.data, static_cast<std::size_t>(content.size));
    }
    if (ctx.outOfMemory) return;

    // Unsigned attributes: the timestamp, and the signatures nested here.
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(si->unauth_attr); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(si->unauth_attr, i);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        const int values = X509_ATTRIBUTE_count(attribute);
        if (OBJ_obj2nid(type) == NID_pkcs9_countersignature || isOid(type, kRfc3161Token)) {
            Timestamp& ts = ctx.out.signatures[index].timestamp;
            if (ts.kind != TimestampKind::None) continue;  // the first one speaks for the signature
            if (OBJ_obj2nid(type) == NID_pkcs9_countersignature)
                readCountersignature(ctx, X509_ATTRIBUTE_get0_type(attribute, 0), sd->cert, si, ts);
            else
                readRfc3161(ctx, X509_ATTRIBUTE_get0_type(attribute, 0), si, ts);
            if (ts.damaged) ctx.damage(Damage::TimestampUnreadable, static_cast<int>(entry), static_cast<int>(index));
        } else if (isOid(type, kNestedSignature)) {
            for (int v = 0; v < values && !ctx.outOfMemory; ++v) {
                const ASN1_TYPE* nested = X509_ATTRIBUTE_get0_type(attribute, v);
                if (!nested || nested->type != V_ASN1_SEQUENCE) {
                    ctx.damage(Damage::NotSignedData, static_cast<int>(entry));
                    continue;
                }
                readSignedData(ctx, nested->value.sequence->data, nested->value.sequence->length, entry, depth + 1);
            }
        }
        if (ctx.outOfMemory) return;
    }
}

void readSignedData(Context& ctx, const unsigned char* der, long size, unsigned entry, unsigned depth) {
    if (depth > kMaxNestingDepth || ctx.out.signatures.size() >= kMaxSignatures) {
        if (!ctx.out.has(Damage::TooManySignatures)) ctx.damage(Damage::TooManySignatures, static_cast<int>(entry));
        return;
    }
    const unsigned char* p = der;
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, size));
    ctx.drainErrors();
    if (ctx.outOfMemory) return;
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign) {
        ctx.damage(Damage::NotSignedData, static_cast<int>(entry));
        return;
    }
    const std::size_t index = ctx.out.signatures.size();
    ctx.out.signatures.emplace_back();
    ctx.out.signatures[index].entry = entry;
    ctx.out.signatures[index].depth = depth;
    SignedContent content;
    if (!readIndirectData(ctx, p7->d.sign, ctx.out.signatures[index], content)) {
        if (ctx.outOfMemory) return;
        ctx.damage(Damage::NotAuthenticode, static_cast<int>(entry), static_cast<int>(index));
        content = {};
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    const int count = sk_PKCS7_SIGNER_INFO_num(signers);
    if (count != 1) ctx.damage(Damage::NoSigner, static_cast<int>(entry), static_cast<int>(index));
    if (count >= 1) readSignerInfo(ctx, p7.get(), sk_PKCS7_SIGNER_INFO_value(signers, 0), content, index, entry, depth);
}

// One entry's bCertificate: the DER object at its start (its length from
// its own header, so that data hidden after it is neither read whole nor
// taken for the signature), then what follows it.
void readBlob(Context& ctx, const platform::ByteSource& file, std::uint64_t at, std::uint64_t size, unsigned entry) {
    unsigned char head[16];
    const std::size_t headSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof head));
    if (headSize == 0 || !file.read(at, head, headSize)) {
        ctx.damage(Damage::NotSignedData, static_cast<int>(entry));
        return;
    }
    const unsigned char* p = head;
    long length = 0;
    int tag = 0, cls = 0;
    // With only the head at hand the object reads "too long" (0x80), yet its
    // tag and length are read: what matters is that the header was.
    const int r = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(headSize));
    ERR_clear_error();
    if (p == head || tag != V_ASN1_SEQUENCE || cls != V_ASN1_UNIVERSAL || !(r & V_ASN1_CONSTRUCTED) || length < 0) {
        ctx.damage(Damage::NotSignedData, static_cast<int>(entry));
        return;
    }
    std::uint64_t derSize = (r & 1) ? size : static_cast<std::uint64_t>(p - head) + static_cast<std::uint64_t>(length);
    if (derSize > size) {
        ctx.damage(Damage::BlobOutsideEntry, static_cast<int>(entry));
        return;
    }
    if (derSize > kMaxSignatureBlob) {
        ctx.damage(Damage::BlobTooLarge, static_cast<int>(entry));
        return;
    }
    std::vector<unsigned char> der(static_cast<std::size_t>(derSize));
    if (!file.read(at, der.data(), der.size())) {
        ctx.damage(Damage::BlobOutsideEntry, static_cast<int>(entry));
        return;
    }
    if (r & 1) {  // indefinite length: the object ends where OpenSSL says
        const unsigned char* q = der.data();
        ASN1_TYPE* whole = d2i_ASN1_TYPE(nullptr, &q, static_cast<long>(der.size()));
        ctx.drainErrors();
        if (whole) derSize = static_cast<std::uint64_t>(q - der.data());
        ASN1_TYPE_free(whole);
    }
    readSignedData(ctx, der.data(), static_cast<long>(derSize), entry, 0);
    if (ctx.outOfMemory) return;

    // Up to seven zeros pad the entry to its 8-byte boundary; anything else
    // is data nobody signed and no hash covers.
    const std::uint64_t rest = size - derSize;
    bool extra = rest > 7;
    if (!extra && rest > 0) {
        unsigned char tail[8] = {};
        extra = !file.read(at + derSize, tail, static_cast<std::size_t>(rest)) ||
                std::any_of(tail, tail + rest, [](unsigned char c) { return c != 0; });
    }
    if (extra) ctx.damage(Damage::ExtraDataInEntry, static_cast<int>(entry));
}

void readTable(Context& ctx, const platform::ByteSource& file) {
    AuthenticodeInfo& out = ctx.out;
    const std::uint64_t fileSize = file.size();
    const std::uint64_t declaredEnd = out.tableOffset + out.tableSize;
    if (out.tableOffset > fileSize || out.tableSize > fileSize - out.tableOffset)
        ctx.damage(Damage::TableOutsideFile, -1);
    else
        out.bytesAfterTable = fileSize - declaredEnd;
    if (out.bytesAfterTable > 0) ctx.damage(Damage::DataAfterTable, -1);
    if (out.tableOffset % 8 != 0) ctx.damage(Damage::TableMisaligned, -1);

    std::uint64_t at = out.tableOffset;
    while (at < declaredEnd && declaredEnd - at >= 8) {
        if (out.entries.size() == kMaxCertificateEntries) {
            ctx.damage(Damage::TooManyEntries, -1);
            return;
        }
        CertificateEntry e;
        e.offset = at;
        if (!file.u32(at, e.length) || !file.u16(at + 4, e.revision) || !file.u16(at + 6, e.type)) return;  // off the file
        const int index = static_cast<int>(out.entries.size());
        if (e.length < 8 || e.length > declaredEnd - at) {
            ctx.damage(Damage::EntryLength, index);
            return;
        }
        out.entries.push_back(e);
        if (e.type != kCertTypePkcsSignedData)
            ctx.damage(Damage::UnsupportedEntry, index);
        else if (!file.has(at, e.length))
            ctx.damage(Damage::BlobOutsideEntry, index);
        else
            readBlob(ctx, file, at + 8, e.length - 8, static_cast<unsigned>(index));
        if (ctx.outOfMemory) return;
        at += (static_cast<std::uint64_t>(e.length) + 7) & ~std::uint64_t{7};
    }
    if (at < declaredEnd) ctx.damage(Damage::TableSizeMismatch, -1);
}

struct Span {
    std::uint64_t begin, end;
};

// What the Authenticode hash leaves out, sorted and clipped to the file.
std::vector<Span> excludedSpans(const platform::PeImage& image, std::uint64_t fileSize) {
    const platform::PeImage::Directory table = image.directory(kCertificateDirectory);
    const std::uint32_t tableOffset = table.rva, tableSize = table.size;
    const std::uint64_t optional = image.optionalHeader();
    const std::uint64_t entry = optional + (image.plus() ? kCertificateEntry64 : kCertificateEntry32);
    std::vector<Span> spans{{optional + kChecksumField, optional + kChecksumField + 4}, {entry, entry + 8}};
    if (tableSize > 0) spans.push_back({tableOffset, std::uint64_t{tableOffset} + tableSize});
    for (Span& s : spans) {
        s.begin = std::min(s.begin, fileSize);
        s.end = std::min(s.end, fileSize);
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    return spans;
}

enum class HashRun { Done, Unreadable, Failed, OutOfMemory };

// One pass over the file for every algorithm at once.
HashRun hashImage(Context* ctx, const platform::PeImage& image, const std::vector<DigestKind>& kinds,
                  std::vector<std::vector<std::uint8_t>>& digests) {
    const platform::ByteSource& file = image.bytes();
    std::vector<MdCtxPtr> states;
    for (DigestKind k : kinds) {
        states.emplace_back(EVP_MD_CTX_new());
        if (!states.back()) return HashRun::OutOfMemory;
        if (EVP_DigestInit_ex(states.back().get(), digestOf(k), nullptr) != 1) {
            if (!ctx) return HashRun::Failed;
            ctx->drainErrors();
            return ctx->outOfMemory ? HashRun::OutOfMemory : HashRun::Failed;
        }
    }
    std::vector<unsigned char> chunk(kHashChunk);
    auto update = [&](const unsigned char* data, std::size_t n) {
        for (MdCtxPtr& s : states)
            if (EVP_DigestUpdate(s.get(), data, n) != 1) return false;
        return true;
    };
    const std::uint64_t size = file.size();
    std::uint64_t at = 0, hashedEnd = 0;
    std::vector<Span> spans = excludedSpans(image, size);
    spans.push_back({size, size});
    for (const Span& skip : spans) {
        while (at < skip.begin) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), skip.begin - at));
            if (!file.read(at, chunk.data(), n)) return HashRun::Unreadable;
            if (!update(chunk.data(), n)) return HashRun::Failed;
            at += n;
            hashedEnd = at;
        }
        at = std::max(at, skip.end);
    }
    // Signing pads a file to 8 bytes before it appends the table; hashing
    // an image whose hashed part does not end on that boundary pads the same.
    static const unsigned char zeros[8] = {};
    if (hashedEnd % 8 != 0 && !update(zeros, static_cast<std::size_t>(8 - hashedEnd % 8))) return HashRun::Failed;
    digests.assign(kinds.size(), {});
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(states[i].get(), md, &n) != 1) return HashRun::Failed;
        digests[i].assign(md, md + n);
    }
    return HashRun::Done;
}

void hashSignatures(Context& ctx, const platform::PeImage& image) {
    std::vector<DigestKind> kinds;
    for (const Signature& s : ctx.out.signatures)
        if (s.digest != DigestKind::Unknown && !s.signedDigest.empty() &&
            std::find(kinds.begin(), kinds.end(), s.digest) == kinds.end())
            kinds.push_back(s.digest);
    if (kinds.empty()) return;
    std::vector<std::vector<std::uint8_t>> digests;
    const HashRun run = hashImage(&ctx, image, kinds, digests);
    ctx.drainErrors();
    if (run == HashRun::OutOfMemory) ctx.outOfMemory = true;
    if (run == HashRun::OutOfMemory || run == HashRun::Failed) return;  // a digest refused (FIPS): not computed
    ctx.out.hashed = run == HashRun::Done;
    for (Signature& s : ctx.out.signatures) {
        const auto k = std::find(kinds.begin(), kinds.end(), s.digest);
        if (k == kinds.end()) continue;
        if (run == HashRun::Unreadable) {
            s.match = HashMatch::Unreadable;
            continue;
        }
        s.fileDigest = digests[static_cast<std::size_t>(k - kinds.begin())];
        s.match = s.fileDigest == s.signedDigest ? HashMatch::Matches : HashMatch::Changed;
    }
}

// OpenSSL sets itself up on first use, and keeps a thread's error queue in
// memory it takes on the thread's first error. Either failing can only be
// memory; without the queue no later failure could be told from damage.
bool openSslReady() {
    if (OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) != 1) return false;
    ERR_clear_error();
    ERR_raise(ERR_LIB_USER, ERR_R_INTERNAL_ERROR);
    const bool queue = ERR_peek_error() != 0;
    ERR_clear_error();
    return queue;
}

AuthenticodeInfo read(const platform::PeImage& image, bool hash) {
    AuthenticodeInfo out;
    if (image.headers() != platform::PeImage::Headers::OptionalHeader) return out;
    const platform::PeImage::Directory table = image.directory(kCertificateDirectory);
    const std::uint32_t offset = table.rva, size = table.size;
    out.tableOffset = offset;
    out.tableSize = size;
    if (size == 0) {
        out.outcome = AuthenticodeInfo::Outcome::Unsigned;
        return out;
    }
    if (!openSslReady()) {
        out.outcome = AuthenticodeInfo::Outcome::OutOfMemory;
        return out;
    }
    Context ctx{out};
    readTable(ctx, image.bytes());
    if (!ctx.outOfMemory && hash) hashSignatures(ctx, image);
    ERR_clear_error();
    if (ctx.outOfMemory)
        out.outcome = AuthenticodeInfo::Outcome::OutOfMemory;
    else
        out.outcome = out.signatures.empty() ? AuthenticodeInfo::Outcome::Damaged : AuthenticodeInfo::Outcome::Signed;
    return out;
}

AuthenticodeInfo outOfMemory() {
    ERR_clear_error();
    AuthenticodeInfo out;
    out.outcome = AuthenticodeInfo::Outcome::OutOfMemory;
    return out;
}

}  // namespace

const char* digestName(DigestKind kind) {
    switch (kind) {
        case DigestKind::Md5: return "MD5";
        case DigestKind::Sha1: return "SHA-1";
        case DigestKind::Sha256: return "SHA-256";
        case DigestKind::Sha384: return "SHA-384";
        case DigestKind::Sha512: return "SHA-512";
        case DigestKind::Unknown: break;
    }
    return "";
}

std::string SignedTime::text() const {
    if (!present) return {};
    const std::int64_t days = (unixSeconds >= 0 ? unixSeconds : unixSeconds - 86399) / 86400;
    const std::int64_t secs = unixSeconds - days * 86400;
    // civil_from_days, the inverse of daysFromCivil
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m, d,
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    return buf;
}

const char* damageText(Damage damage) {
    switch (damage) {
        case Damage::TableOutsideFile: return "table des certificats hors du fichier";
        case Damage::TableMisaligned: return "table des certificats mal alignée";
        case Damage::EntryLength: return "longueur de certificat impossible";
        case Damage::TableSizeMismatch: return "taille de la table des certificats incohérente";
        case Damage::TooManyEntries: return "trop d'entrées dans la table des certificats";
        case Damage::UnsupportedEntry: return "certificat d'un type non lu";
        case Damage::BlobTooLarge: return "signature trop grande";
        case Damage::BlobOutsideEntry: return "signature hors de son entrée";
        case Damage::NotSignedData: return "signature illisible";
        case Damage::NotAuthenticode: return "signature sans condensé Authenticode";
        case Damage::NoSigner: return "signature sans signataire unique";
        case Damage::ExtraDataInEntry: return "données non signées après la signature";
        case Damage::DataAfterTable: return "données après la table des certificats";
        case Damage::TooManySignatures: return "trop de signatures imbriquées";
        case Damage::TimestampUnreadable: return "horodatage illisible";
    }
    return "";
}

bool AuthenticodeInfo::has(Damage d) const {
    return std::any_of(damages.begin(), damages.end(), [d](const DamageAt& x) { return x.what == d; });
}

bool AuthenticodeInfo::sha1Only() const {
    return !signatures.empty() && std::all_of(signatures.begin(), signatures.end(), [](const Signature& s) {
        return s.digest == DigestKind::Unknown || weakDigest(s.digest);
    }) && std::any_of(signatures.begin(), signatures.end(), [](const Signature& s) { return weakDigest(s.digest); });
}

bool AuthenticodeInfo::changed() const {
    return std::any_of(signatures.begin(), signatures.end(),
                       [](const Signature& s) { return s.match == HashMatch::Changed; });
}

AuthenticodeInfo readAuthenticode(const platform::PeImage& image, bool hash) {
    try {
        return read(image, hash);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

AuthenticodeInfo readAuthenticode(const platform::ByteSource& file, bool hash) {
    platform::PeImage image(file);
    return readAuthenticode(image, hash);
}

AuthenticodeInfo readAuthenticode(const std::string& path, bool hash) {
    platform::FileReader file;
    if (file.open(path) != platform::MapStatus::Ok) return {};
    return readAuthenticode(file, hash);
}

bool authenticodeHash(const platform::PeImage& image, DigestKind kind, std::vector<std::uint8_t>& out) {
    try {
        if (kind == DigestKind::Unknown) return false;
        if (image.headers() != platform::PeImage::Headers::OptionalHeader) return false;
        std::vector<std::vector<std::uint8_t>> digests;
        const bool ok = hashImage(nullptr, image, {kind}, digests) == HashRun::Done;
        ERR_clear_error();
        if (ok) out = digests.front();
        return ok;
    } catch (const std::bad_alloc&) {
        ERR_clear_error();
        return false;
    }
}

}  // namespace pe
