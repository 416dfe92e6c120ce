// The French lines of the problems an analysis meets, all in one place.
#pragma once

#include <cstdint>
#include <string>

#include "inspect/findings.h"
#include "inspect/loader/origin.h"

namespace shipping {
struct BundleNote;
}

namespace lines {

// "<dll> invisible pour <importer>", with " (seule existe <other>, <machine>)"
// when only a file of another machine exists, and " (chargement différé)"
// for a delay-load descriptor's DLL.
Finding missingDll(const std::string& dll, const std::string& importer, const std::string& otherPath,
                   std::uint16_t otherMachine, bool delayed);

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
std::string origin(loader::Origin origin, const std::string& detail);

// "<name>: <package> redistribuable — installez-le sur la cible ou livrez
// la copie de Microsoft à côté du programme".
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
extern const char* const kDelayed;     // "  (chargement différé)"
// The same words inside a chain of --why: "<name> (invisible)",
// "<name> (chargement différé)".
std::string chainNowhere(const std::string& name);
std::string chainDelayed(const std::string& name);

}  // namespace lines
