#include "inspect/lines.h"

#include "inspect/bundle.h"
#include "platform/platform.h"

namespace lines {

namespace {
const char* const kDelayedSuffix = " (chargement différé)";
}

const char* const kDrawnAbove = "  (voir plus haut)";
const char* const kNowhere = "  (invisible)";
const char* const kDelayed = "  (chargement différé)";

std::string chainNowhere(const std::string& name) { return name + " (invisible)"; }
std::string chainDelayed(const std::string& name) { return name + kDelayedSuffix; }

std::string origin(loader::Origin origin, const std::string& detail) {
    switch (origin) {
        case loader::Origin::Sxs: return "assemblage côte à côte " + detail;
        case loader::Origin::Known: return "DLL connue du système";
        case loader::Origin::App: return "dossier du programme";
        case loader::Origin::User: return "dossier utilisateur";
        case loader::Origin::System: return "dossier système";
        case loader::Origin::Toolchain: return "dossier de la chaîne de compilation";
        case loader::Origin::Gac: return "cache global des assemblages .NET";
        case loader::Origin::None: break;
    }
    return {};
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
    return {name + what, Problem::NotReadable, false, platform::fileNamePart(name), {}, {}};
}

}  // namespace lines
