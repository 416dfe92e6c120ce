// The French lines of the problems an analysis meets, all in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/findings.h"
#include "inspect/loader/origin.h"
#include "inspect/signatures.h"

namespace shipping {
struct BundleNote;
}

namespace lines {

// "<dll> invisible pour <importer>", with " (seule existe <other>, <machine>)"
// when only a file of another machine exists, and " (chargement différé)"
// for a delay-load descriptor's DLL.
Finding missingDll(const std::string& dll, const std::string& importer, const std::string& otherPath,
                   std::uint16_t otherMachine, bool delayed);
// The same for a search the importer's DependentLoadFlags limited, which
// left out `skipped`, the folder the default order finds the DLL in:
// "... (DependentLoadFlags 0x0800 : le dossier <skipped> n'est pas cherché)".
Finding missingDllLimited(const std::string& dll, const std::string& importer, std::uint16_t flags,
                          const std::string& skipped, bool delayed);

// "<function> absente de <dll> pour <importer>", with " (renvoi vers
// <forward>)" when the export is a forwarder that leads nowhere (`broken`);
// `dllName` the DLL as the import table names it.
Finding missingFunction(const std::string& function, const std::string& dll, const std::string& dllName,
                        const std::string& importer, bool broken, const std::string& forward, bool delayed);

// "<assembly> <version> invisible pour <importer>": a side-by-side assembly
// the importer's manifest asks for, found nowhere.
Finding missingAssembly(const std::string& name, const std::string& version, const std::string& importer);

// "<assembly> <asked> trop ancienne (<found>) pour <importer>": a .NET
// reference whose assembly is older than the version it asks for.
// A shared framework a .NET 5+ program's runtime config names that no
// version present fits, with those present.
Finding missingFramework(const std::string& name, const std::string& version, const std::string& importer,
                         const std::vector<std::string>& present);
// An asset a .NET app's deps file selects that is not where the host looks
// ("runtimes/win/lib/net8.0/Foo.dll", relative to the app's folder).
Finding missingAsset(const std::string& appPath, const std::string& importer, const std::string& depsFile, bool native);
Finding oldAssembly(const std::string& name, const std::string& asked, const std::string& found,
                    const std::string& importer);

// "<name> n'est pas un exécutable Win32".
Finding notWin32(const std::string& name);

// How reading a file failed.
enum class Unreadable { NotOpenable, NotMappable, NotViewable };
// "<name> non ouvrable", "<name> non mappable", "<name> non visionnable".
Finding unreadable(const std::string& name, Unreadable why);

// Why the loader takes a DLL from its folder, in words: "dossier du
// programme", "DLL connue du système", "assemblage côte à côte <detail>", ...;
// empty for None.
// With `dependentLoadFlags`, the importer's flags that limited the search:
// "dossier système (DependentLoadFlags 0x0800)".
std::string origin(loader::Origin origin, const std::string& detail, std::uint16_t dependentLoadFlags = 0);
// "0x0800".
std::string loadFlags(std::uint16_t flags);

// After a side-by-side assembly's label, when Wine's builtin DLLs stand in
// for its files: " (DLL intégrées de Wine)".
extern const char* const kWineBuiltin;

// "<name>: <package> redistribuable — installez-le sur la cible ou livrez
// la copie de Microsoft à côté du programme".
// "Microsoft.NETCore.App 8.0 (x64): runtime .NET partagé — installez-le sur la cible".
std::string sharedFramework(const std::string& framework);
std::string redistributable(const std::string& name, const char* package);
// "<dll>: bibliothèque de débogage, non redistribuable (pour <importer>)".
std::string debugRuntime(const std::string& dll, const std::string& importer);

// "<name> : deux fichiers différents sous ce nom": what cannot go into one
// folder.
std::string twoFiles(const std::string& name);
// A note of the copy of a ship set, in words.
std::string bundleNote(const shipping::BundleNote& note);

// What a tree of imports writes after a node: a DLL already drawn, a name
// found nowhere, a delay-load table's name.
extern const char* const kDrawnAbove;  // "  (voir plus haut)"
extern const char* const kNowhere;     // "  (invisible)"
// A .NET reference the framework answers, in the tree.
extern const char* const kFramework;
extern const char* const kDelayed;     // "  (chargement différé)"
// The same words inside a chain of --why: "<name> (invisible)",
// "<name> (chargement différé)".
std::string chainNowhere(const std::string& name);
std::string chainDelayed(const std::string& name);


// ---------------------------------------------------------------------------
// Release checks

// A file's signatures in one line: "<path> : signé par <O> (<CN>), émis par
// <issuer>, SHA-256, horodaté le <time>", its nested signatures after "; ",
// "<path> : non signé", "<path> : modifié après signature (signé par ...)",
// "<path> : signature endommagée (<what>)", ...; with " — SHA-1 seulement"
// and " — redistribuable de Microsoft non signé par Microsoft" when so.
std::string signature(const std::string& path, const signing::FileSignature& s);
// "Signatures : <n> fichiers, <k> signés, ... (confiance non jugée : aucun
// certificat racine consulté)", the counts by status of `all`.
std::string signatureCount(const std::vector<signing::Status>& all);
// What --require-signed says of a file that cannot go out as signed:
// "<path> non signé", "<path> modifié après signature", "<path> : signature
// invalide", "<path> : signature endommagée", "<path> : signature non
// vérifiable"; empty for a signed file.
std::string notSigned(const std::string& path, signing::Status status);
// "<path> : protections absentes : ASLR, CFG".
std::string hardeningMissing(const std::string& path, const std::vector<std::string>& missing);
// "<name> : Visual C++ 2010, hors du support de Microsoft", with " (pour
// <importer>)" when `importer` is not empty.
std::string unsupportedRuntime(const std::string& name, const char* package, const std::string& importer);

// What changed between two reports (--diff), one line each.
// "<name> (<old path> -> <new path>)", or "<name>" when the path is the same.
std::string diffProgram(const std::string& name, const std::string& oldPath, const std::string& newPath);
// "programme ajouté : <path>", "programme retiré : <path>".
std::string diffProgramAdded(const std::string& path);
std::string diffProgramRemoved(const std::string& path);
// "  + <dll> <version>, <origin>", "  - <dll> <version>, <origin>" (the
// version and origin when known).
std::string diffDllAdded(const std::string& dll, const std::string& version, const std::string& origin);
std::string diffDllRemoved(const std::string& dll, const std::string& version, const std::string& origin);
// "  <dll> : version <old> -> <new> (hausse)", "(baisse)", or nothing after
// for versions that do not compare.
enum class VersionChange { Up, Down, Other };
std::string diffVersion(const std::string& dll, const std::string& oldVersion, const std::string& newVersion,
                        VersionChange change);
// "  <dll> : origine <old> -> <new>", "  <dll> : dossier <old> -> <new>".
std::string diffOrigin(const std::string& dll, const std::string& oldOrigin, const std::string& newOrigin);
std::string diffFolder(const std::string& dll, const std::string& oldFolder, const std::string& newFolder);
// "  problème nouveau : <line>", "  problème disparu : <line>".
std::string diffProblemNew(const std::string& line);
std::string diffProblemGone(const std::string& line);
// "aucun changement".
extern const char* const kNoChange;

}  // namespace lines
