#include "inspect/signatures.h"

#include <algorithm>
#include <new>

#include "inspect/redist.h"

namespace signing {

const char* statusKey(Status status) {
    switch (status) {
        case Status::NotPe: return "not-pe";
        case Status::Unsigned: return "unsigned";
        case Status::Signed: return "signed";
        case Status::Changed: return "changed";
        case Status::Broken: return "broken";
        case Status::Damaged: return "damaged";
        case Status::NotChecked: return "not-checked";
    }
    return "";
}

namespace {

Status statusOf(const pe::AuthenticodeInfo& info) {
    using Outcome = pe::AuthenticodeInfo::Outcome;
    switch (info.outcome) {
        case Outcome::NotPe: return Status::NotPe;
        case Outcome::Unsigned: return Status::Unsigned;
        case Outcome::Damaged: return Status::Damaged;
        case Outcome::OutOfMemory: return Status::NotChecked;
        case Outcome::Signed: break;
    }
    if (info.changed()) return Status::Changed;
    const pe::Signature& first = info.signatures.front();
    if (first.signer == pe::SignerCheck::Broken) return Status::Broken;
    if (first.match != pe::HashMatch::Matches || first.signer != pe::SignerCheck::Intact) return Status::NotChecked;
    return Status::Signed;
}

}  // namespace

FileSignature summarise(const pe::AuthenticodeInfo& info, const std::string& name) {
    FileSignature out;
    out.status = statusOf(info);
    out.redistributable = shipping::redistributableOf(name);
    for (const pe::Signature& s : info.signatures) {
        Signer signer;
        signer.subject = s.subject;
        signer.issuer = s.issuer;
        signer.digest = s.digest;
        signer.timestamp = s.timestamp.kind;
        if (s.timestamp.time.present) signer.timestampTime = s.timestamp.time.text();
        signer.nested = !out.signers.empty();
        out.signers.push_back(std::move(signer));
    }
    out.sha1Only = info.sha1Only();
    out.microsoft = info.signedByMicrosoft();
    for (const pe::DamageAt& d : info.damages) {
        const std::string text = pe::damageText(d.what);
        if (std::find(out.damages.begin(), out.damages.end(), text) == out.damages.end()) out.damages.push_back(text);
    }
    return out;
}

FileSignature readSignature(const platform::PeImage& image, const std::string& name) {
    try {
        return summarise(pe::readAuthenticode(image, true), name);
    } catch (const std::bad_alloc&) {
        FileSignature out;
        out.status = Status::NotChecked;
        return out;
    }
}

}  // namespace signing
