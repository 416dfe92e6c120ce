// What the Authenticode signatures of one shipped file come to: signed or
// not, by whom, with which digest and timestamp, and whether the file is
// still the one that was signed. Read offline from the file's own
// certificate table; no store of root certificates is consulted, so trust
// is never decided: a file "signed" here is one whose signature checks out
// with its own certificate and whose bytes are those that were signed.
#pragma once

#include <string>
#include <vector>

#include "inspect/pe/authenticode.h"
#include "platform/peimage.h"

namespace signing {

enum class Status {
    NotPe,       // not a PE image, or the file cannot be read: nothing to sign
    Unsigned,    // no certificate table
    Signed,      // the first signature's digest is the file's and its signer checks out
    Changed,     // a signature's digest is not the file's: changed after signing
    Broken,      // the first signer's signature does not check out with its own certificate
    Damaged,     // a certificate table, but no signature could be read from it
    NotChecked,  // a signature whose digest could not be computed, or memory ran out
};
// "not-pe", "unsigned", "signed", "changed", "broken", "damaged", "not-checked".
const char* statusKey(Status status);

struct Signer {
    pe::NameFields subject, issuer;
    pe::DigestKind digest = pe::DigestKind::Unknown;
    pe::TimestampKind timestamp = pe::TimestampKind::None;
    std::string timestampTime;  // "2023-11-14T22:13:20Z"; empty without a readable time
    bool nested = false;        // not the one Windows shows: nested in it, or of another entry
};

struct FileSignature {
    Status status = Status::NotPe;
    std::vector<Signer> signers;  // the one Windows shows first
    bool sha1Only = false;        // every signature signs with MD5 or SHA-1
    bool microsoft = false;       // the first signer is Microsoft Corporation
    // The Microsoft redistributable package the file's name belongs to
    // ("Visual C++ 2015-2022"), null for any other file.
    const char* redistributable = nullptr;
    std::vector<std::string> damages;  // French, each once

    // The file can go out as signed.
    bool valid() const { return status == Status::Signed; }
    // A Microsoft redistributable that Microsoft did not sign.
    bool notMicrosoft() const { return redistributable && !microsoft; }
};

// The summary of what the reader found; `name` is the file's name, which
// tells a Microsoft redistributable.
FileSignature summarise(const pe::AuthenticodeInfo& info, const std::string& name);
// Reads the table and hashes the whole file (one pass).
FileSignature readSignature(const platform::PeImage& image, const std::string& name);

}  // namespace signing
