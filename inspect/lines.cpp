#include "inspect/lines.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "inspect/bundle.h"
#include "platform/platform.h"

namespace lines {

std::string originWords(loader::Origin origin, const std::string& detail);

namespace {
const char* const kDelayedSuffix = " (chargement différé)";
}

const char* const kWineBuiltin = " (DLL intégrées de Wine)";
const char* const kDrawnAbove = "  (voir plus haut)";
const char* const kNowhere = "  (invisible)";
const char* const kFramework = "  (framework)";
const char* const kDelayed = "  (chargement différé)";

std::string chainNowhere(const std::string& name) { return name + " (invisible)"; }
std::string chainDelayed(const std::string& name) { return name + kDelayedSuffix; }

std::string loadFlags(std::uint16_t flags) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(flags));
    return buf;
}

std::string origin(loader::Origin origin, const std::string& detail, std::uint16_t dependentLoadFlags) {
    std::string words = originWords(origin, detail);
    if (!words.empty() && dependentLoadFlags) words += " (DependentLoadFlags " + loadFlags(dependentLoadFlags) + ")";
    return words;
}

std::string originWords(loader::Origin origin, const std::string& detail) {
    switch (origin) {
        case loader::Origin::Sxs: return "assemblage côte à côte " + detail;
        case loader::Origin::Known: return "DLL connue du système";
        case loader::Origin::App: return "dossier du programme";
        case loader::Origin::User: return "dossier utilisateur";
        case loader::Origin::System: return "dossier système";
        case loader::Origin::Toolchain: return "dossier de la chaîne de compilation";
        case loader::Origin::Gac: return "cache global des assemblages .NET";
        case loader::Origin::Module: return "dossier du module";
        case loader::Origin::None: break;
    }
    return {};
}

std::string sharedFramework(const std::string& framework) {
    return framework + ": runtime .NET partagé — installez-le sur la cible";
}

std::string redistributable(const std::string& name, const char* package) {
    return name + ": " + package +
           " redistribuable — installez-le sur la cible ou livrez la copie de Microsoft à côté du programme";
}

std::string debugRuntime(const std::string& dll, const std::string& importer) {
    return dll + ": bibliothèque de débogage, non redistribuable (pour " + importer + ")";
}

std::string twoFiles(const std::string& name) { return name + " : deux fichiers différents sous ce nom"; }

std::string bundleNote(const shipping::BundleNote& n) {
    using Kind = shipping::BundleNote::Kind;
    switch (n.kind) {
        case Kind::Incomplete: return "la liste à livrer est incomplète : rien n'est copié dans " + n.path;
        case Kind::NotAFolder: return n.path + " n'est pas un dossier";
        case Kind::TwoFiles: return n.path + " serait deux fichiers différents : " + n.source + " et " + n.other;
        case Kind::CannotCompare: return "comparaison impossible : " + n.why;
        case Kind::ListedFile: return n.path + " est un fichier de la liste, que " + n.source + " remplacerait";
        case Kind::CannotCreate: return "impossible de créer le dossier " + n.path + " : " + n.why;
        case Kind::CannotWrite: return "écriture impossible : " + n.why;
        case Kind::CannotPlace: return "impossible de mettre la copie en place : " + n.why;
        case Kind::Replaced: return n.path + " remplacé (ses octets différaient de " + n.source + ")";
    }
    return {};
}

Finding missingDll(const std::string& dll, const std::string& importer, const std::string& otherPath,
                   std::uint16_t otherMachine, bool delayed) {
    Finding f{dll + " invisible pour " + importer, otherPath.empty() ? Problem::MissingDll : Problem::WrongMachine,
              delayed, dll, {}, {}};
    if (!otherPath.empty()) f.line += " (seule existe " + otherPath + ", " + platform::machineName(otherMachine) + ")";
    if (delayed) f.line += kDelayedSuffix;
    return f;
}

Finding missingDllLimited(const std::string& dll, const std::string& importer, std::uint16_t flags,
                          const std::string& skipped, bool delayed) {
    Finding f = missingDll(dll, importer, {}, 0, false);
    f.line += " (DependentLoadFlags " + loadFlags(flags);
    f.line += skipped.empty() ? ")" : " : le dossier " + skipped + " n'est pas cherché)";
    if (delayed) f.line += kDelayedSuffix;
    f.delayLoaded = delayed;
    f.dependentLoadFlags = flags;
    return f;
}

Finding missingFunction(const std::string& function, const std::string& dll, const std::string& dllName,
                        const std::string& importer, bool broken, const std::string& forward, bool delayed) {
    Finding f{function + " absente de " + dll + " pour " + importer, Problem::MissingFunction, delayed, dllName, function, {}};
    if (broken) f.line += " (renvoi vers " + forward + ")";
    if (delayed) f.line += kDelayedSuffix;
    return f;
}

Finding missingAssembly(const std::string& name, const std::string& version, const std::string& importer) {
    return {name + " " + version + " invisible pour " + importer, Problem::MissingAssembly, false, name, {}, {}};
}

Finding missingFramework(const std::string& name, const std::string& version, const std::string& importer,
                         const std::vector<std::string>& present) {
    std::string seen;
    for (const std::string& v : present) seen += (seen.empty() ? "" : ", ") + v;
    return {name + " " + version + " invisible pour " + importer +
                (seen.empty() ? " (aucune version présente)" : " (versions présentes : " + seen + ")"),
            Problem::MissingFramework, false, name, {}, {}};
}

Finding missingAsset(const std::string& appPath, const std::string& importer, const std::string& depsFile, bool native) {
    return {appPath + " invisible pour " + importer + " (listé dans " + depsFile + ")",
            native ? Problem::MissingDll : Problem::MissingAssembly, false, platform::fileNamePart(appPath), {}, {}};
}

Finding oldAssembly(const std::string& name, const std::string& asked, const std::string& found,
                    const std::string& importer) {
    return {name + " " + asked + " trop ancienne (" + found + ") pour " + importer, Problem::OldAssembly, false, name, {}, {}};
}

Finding notWin32(const std::string& name) {
    return {name + " n'est pas un exécutable Win32", Problem::NotPe, false, platform::fileNamePart(name), {}, {}};
}

Finding unreadable(const std::string& name, Unreadable why) {
    const char* what = why == Unreadable::NotOpenable   ? " non ouvrable"
                       : why == Unreadable::NotMappable ? " non mappable"
                                                        : " non visionnable";
    return {name + what, Problem::NotReadable, false, platform::listedNamePart(name), {}, {}};
}


// ---------------------------------------------------------------------------
// Release checks

namespace {

std::string who(const pe::NameFields& n) {
    if (n.organization.empty()) return n.commonName.empty() ? std::string("?") : n.commonName;
    if (n.commonName.empty() || n.commonName == n.organization) return n.organization;
    return n.organization + " (" + n.commonName + ")";
}

std::string signerText(const signing::Signer& s, bool nested) {
    std::string out = (nested ? "" : "signé par ") + who(s.subject) + ", émis par " + who(s.issuer);
    if (const char* digest = pe::digestName(s.digest); *digest) out.append(", ").append(digest);
    if (s.timestamp == pe::TimestampKind::None) return out + ", sans horodatage";
    out += nested ? ", horodatée" : ", horodaté";
    return s.timestampTime.empty() ? out : out + " le " + s.timestampTime;
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n > 1 ? many : one);
}

}  // namespace

std::string signature(const std::string& path, const signing::FileSignature& s) {
    using signing::Status;
    std::string out = path + " : ";
    const std::string signer = s.signers.empty() ? std::string() : "signé par " + who(s.signers.front().subject);
    switch (s.status) {
        case Status::NotPe: out += "pas un exécutable Win32, rien à signer"; break;
        case Status::Unsigned: out += "non signé"; break;
        case Status::Signed:
            out += signerText(s.signers.front(), false);
            for (std::size_t i = 1; i < s.signers.size(); ++i) out += "; imbriquée : " + signerText(s.signers[i], true);
            break;
        case Status::Changed: out += "modifié après signature" + (signer.empty() ? "" : " (" + signer + ")"); break;
        case Status::Broken: out += "signature invalide" + (signer.empty() ? "" : " (" + signer + ")"); break;
        case Status::NotChecked: out += "signature non vérifiable"; break;
        case Status::Damaged: {
            out += "signature endommagée";
            std::string what;
            for (const std::string& d : s.damages) what += (what.empty() ? "" : ", ") + d;
            if (!what.empty()) out += " (" + what + ")";
            break;
        }
    }
    if (s.sha1Only) out += " — SHA-1 seulement";
    if (s.notMicrosoft() && s.status != Status::NotPe) out += " — redistribuable de Microsoft non signé par Microsoft";
    return out;
}

std::string signatureCount(const std::vector<signing::Status>& all) {
    using signing::Status;
    const auto n = [&](Status st) { return static_cast<std::size_t>(std::count(all.begin(), all.end(), st)); };
    std::string out = "Signatures : " + count(all.size(), "fichier", "fichiers");
    const std::pair<Status, std::pair<const char*, const char*>> kinds[] = {
        {Status::Signed, {"signé", "signés"}},
        {Status::Unsigned, {"non signé", "non signés"}},
        {Status::Changed, {"modifié après signature", "modifiés après signature"}},
        {Status::Broken, {"à la signature invalide", "à la signature invalide"}},
        {Status::Damaged, {"à la signature endommagée", "à la signature endommagée"}},
        {Status::NotChecked, {"non vérifiable", "non vérifiables"}},
        {Status::NotPe, {"pas un exécutable", "pas des exécutables"}},
    };
    for (const auto& [status, words] : kinds)
        if (const std::size_t k = n(status)) out += ", " + count(k, words.first, words.second);
    return out + " (confiance non jugée : aucun certificat racine consulté)";
}

std::string notSigned(const std::string& path, signing::Status status) {
    using signing::Status;
    switch (status) {
        case Status::Unsigned: return path + " non signé";
        case Status::Changed: return path + " modifié après signature";
        case Status::Broken: return path + " : signature invalide";
        case Status::Damaged: return path + " : signature endommagée";
        case Status::NotChecked: return path + " : signature non vérifiable";
        case Status::Signed:
        case Status::NotPe: break;
    }
    return {};
}

std::string hardeningMissing(const std::string& path, const std::vector<std::string>& missing) {
    std::string out = path + " : protections absentes : ";
    for (std::size_t i = 0; i < missing.size(); ++i) out += (i ? ", " : "") + missing[i];
    return out;
}

std::string unsupportedRuntime(const std::string& name, const char* package, const std::string& importer) {
    std::string out = name + " : " + package + ", hors du support de Microsoft";
    return importer.empty() ? out : out + " (pour " + importer + ")";
}

const char* const kNoChange = "aucun changement";

std::string diffProgram(const std::string& name, const std::string& oldPath, const std::string& newPath) {
    return oldPath == newPath ? name : name + " (" + oldPath + " -> " + newPath + ")";
}
std::string diffProgramAdded(const std::string& path) { return "programme ajouté : " + path; }
std::string diffProgramRemoved(const std::string& path) { return "programme retiré : " + path; }

namespace {
std::string dllLine(const char* mark, const std::string& dll, const std::string& version, const std::string& origin) {
    std::string out = std::string("  ") + mark + " " + dll;
    if (!version.empty()) out += " " + version;
    if (!origin.empty()) out += ", " + origin;
    return out;
}
}  // namespace

std::string diffDllAdded(const std::string& dll, const std::string& version, const std::string& origin) {
    return dllLine("+", dll, version, origin);
}
std::string diffDllRemoved(const std::string& dll, const std::string& version, const std::string& origin) {
    return dllLine("-", dll, version, origin);
}

std::string diffVersion(const std::string& dll, const std::string& oldVersion, const std::string& newVersion,
                        VersionChange change) {
    std::string out = "  " + dll + " : version " + oldVersion + " -> " + newVersion;
    if (change == VersionChange::Up) out += " (hausse)";
    if (change == VersionChange::Down) out += " (baisse)";
    return out;
}

std::string diffOrigin(const std::string& dll, const std::string& oldOrigin, const std::string& newOrigin) {
    return "  " + dll + " : origine " + oldOrigin + " -> " + newOrigin;
}
std::string diffFolder(const std::string& dll, const std::string& oldFolder, const std::string& newFolder) {
    return "  " + dll + " : dossier " + oldFolder + " -> " + newFolder;
}
std::string diffProblemNew(const std::string& line) { return "  problème nouveau : " + line; }
std::string diffProblemGone(const std::string& line) { return "  problème disparu : " + line; }

}  // namespace lines
