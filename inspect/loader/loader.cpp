#include "inspect/loader/loader.h"

#include <algorithm>

#include "inspect/lines.h"
#include "inspect/pe/loadconfig.h"
#include "inspect/reads.h"
#include "platform/apiset.h"
#include "platform/platform.h"

namespace loader {

namespace {

std::shared_ptr<Location> foundAt(const std::string& path, Origin origin) {
    auto l = std::make_shared<Location>();
    l->found = true;
    l->path = platform::listPath(path);
    l->key = platform::toLower(l->path);
    l->origin = origin;
    return l;
}

}  // namespace

const char* originName(Origin origin) {
    switch (origin) {
        case Origin::Sxs: return "sxs";
        case Origin::Known: return "known";
        case Origin::App: return "app";
        case Origin::User: return "user";
        case Origin::System: return "system";
        case Origin::Toolchain: return "toolchain";
        case Origin::Gac: return "gac";
        case Origin::Module: return "module";
        case Origin::None: break;
    }
    return "";
}

const LocationPtr& nowhere() {
    static const LocationPtr none = std::make_shared<const Location>();
    return none;
}

bool loadableInto(std::uint16_t process, std::uint16_t dll, pe::CodeView::Kind kind) {
    if (process == 0 || dll == 0 || process == dll) return true;
    // x64 processes map ARM64X DLLs through their EC view (an ARM64EC DLL
    // has the x64 machine itself).
    return process == platform::kMachineAmd64 && dll == platform::kMachineArm64 && kind == pe::CodeView::Kind::Arm64x;
}

// The loader's order, as Windows applies it to one name of an import table.
LocationPtr Loader::find(std::string_view asked, const Importer& importer, const Program& program, bool staticImport) {
    const std::string name(asked);
    // 1. An API set name ("api-ms-win-*", "ext-ms-win-*") the schema knows is
    //    mapped to its host before any file search; the host is then looked
    //    for as any name.
    std::string host;
    const bool apiSet = platform::isApiSetName(name) &&
                        places_.apiSetSchema().resolve(name, platform::fileNamePart(importer.path), host) ==
                            platform::ApiSetSchema::Lookup::Host;
    const std::string& wanted = apiSet ? host : name;
    // 2. The activation context: a file of the module's side-by-side
    //    assemblies (its own manifest's, else the program's) is taken from
    //    the assembly's folder.
    if (importer.context) {
        if (const sxs::Redirection* r = importer.context->find(wanted); r && r->present) {
            auto l = foundAt(r->path, Origin::Sxs);
            l->detail = r->assembly ? r->assembly->label() : platform::fileNamePart(importer.context->manifestPath);
            if (r->assembly && r->assembly->wineBuiltin) l->detail += lines::kWineBuiltin;
            return mapped(std::move(l));
        }
    }
    // 3. to 8.: the folders, for the process's machine; 4. to 8. as the
    //    importer's DependentLoadFlags limit them for its own static imports.
    if (staticImport && importer.dependentLoadFlags != 0)
        return searchLimited(wanted, program, importer.machine, importer.dependentLoadFlags,
                             platform::directoryPart(importer.path));
    return search(wanted, program, importer.machine);
}

bool Loader::takeFrom(const std::string& dir, const std::string& name, std::uint16_t machine, Origin origin,
                      int variant, Location& out) {
    std::string path;
    if (dir.empty() || !reads_.findFile(dir, name, path) || !accept(path, machine, out)) return false;
    out.found = true;
    out.path = platform::listPath(path);
    out.key = platform::toLower(out.path);
    out.origin = origin;
    out.variant = variant;
    out.mappable = reads_.image(out.path)->loadable;
    return true;
}

bool Loader::knownDll(const std::string& name, std::uint16_t machine, Location& out) {
    // 3. A KnownDLL comes from the system folder, whatever copy the program has.
    const platform::SearchPlaces::Machine& m = places_.forMachine(machine);
    return !m.systemFolder.empty() && places_.knownDlls().contains(name) &&
           takeFrom(m.systemFolder, name, machine, Origin::Known, platform::kAnyVariant, out);
}

LocationPtr Loader::search(const std::string& name, const Program& program, std::uint16_t machine) {
    key_.assign(reinterpret_cast<const char*>(&machine), sizeof machine);
    key_.append(reinterpret_cast<const char*>(&program.variant), sizeof program.variant);
    key_.append(program.folder).append(1, '\0').append(name);
    if (const auto it = searches_.find(key_); it != searches_.end()) return it->second;
    LocationPtr& answer = searches_[key_];
    auto out = std::make_shared<Location>();
    answer = out;
    if (!platform::detail::searchableName(name)) return answer;
    if (knownDll(name, machine, *out)) return answer;
    const platform::SearchPlaces::Machine& m = places_.forMachine(machine);
    // A folder met again in the order would answer as it did the first time.
    std::vector<const std::string*> tried;
    const auto step = [&](const std::string& dir, Origin origin, int variant = platform::kAnyVariant) {
        if (dir.empty() || std::any_of(tried.begin(), tried.end(), [&](const std::string* t) { return *t == dir; }))
            return false;
        tried.push_back(&dir);
        return takeFrom(dir, name, machine, origin, variant, *out);
    };
    // 4. The program's folder: the listed file's, for its whole closure.
    const std::string programFolder = program.folder.empty() ? platform::currentDirectory() : program.folder;
    if (step(programFolder, Origin::App)) return answer;
    // 5. The user's folders (--dll-path, the window's "Dossiers", --add-dll-path).
    for (const std::string& dir : places_.userFolders())
        if (step(dir, Origin::User)) return answer;
    // 6. The system folders: the Windows folder's as WOW64 shows them to the
    //    process's machine, else Wine's builtin ones.
    for (const std::string& dir : m.system)
        if (step(dir, Origin::System)) return answer;
    // 7. The toolchain's runtime folders (Linux), held to the program's variant.
    for (const platform::ToolchainFolder& t : m.toolchain) {
        if (program.variant != platform::kAnyVariant && t.variant != platform::kAnyVariant && t.variant != program.variant)
            continue;
        if (step(t.path, Origin::Toolchain, t.variant)) return answer;
    }
    // 8. The folders of PATH (Windows).
    for (const std::string& dir : places_.environmentFolders())
        if (step(dir, Origin::User)) return answer;
    return answer;
}

// Since Windows 10 1607, a module's DependentLoadFlags replace 4. to 8. for
// its own static imports by the places its LOAD_LIBRARY_SEARCH_* bits name,
// in this order: its own folder (0x100), the program's (0x200; the
// toolchain's folders stand for DLLs that will be shipped there), the
// user's folders, which stand for AddDllDirectory's (0x400), System32
// (0x800); 0x1000 is 0x200 | 0x400 | 0x800.
LocationPtr Loader::searchLimited(const std::string& name, const Program& program, std::uint16_t machine,
                                  std::uint16_t flags, const std::string& importerFolder) {
    key_.assign(reinterpret_cast<const char*>(&machine), sizeof machine);
    key_.append(reinterpret_cast<const char*>(&program.variant), sizeof program.variant);
    key_.append(reinterpret_cast<const char*>(&flags), sizeof flags);
    key_.append(program.folder).append(1, '\0');
    if (flags & pe::kSearchDllLoadDir) key_.append(importerFolder);
    key_.append(1, '\0').append(name);
    if (const auto it = searches_.find(key_); it != searches_.end()) return it->second;
    LocationPtr& answer = searches_[key_];
    auto out = std::make_shared<Location>();
    answer = out;
    out->dependentLoadFlags = flags;
    if (!platform::detail::searchableName(name)) return answer;
    if (knownDll(name, machine, *out)) return answer;
    std::uint16_t places = flags;
    if (places & pe::kSearchDefaultDirs) places |= pe::kSearchApplicationDir | pe::kSearchUserDirs | pe::kSearchSystem32;
    const platform::SearchPlaces::Machine& m = places_.forMachine(machine);
    const std::string programFolder = program.folder.empty() ? platform::currentDirectory() : program.folder;
    if ((places & pe::kSearchDllLoadDir) &&
        takeFrom(importerFolder, name, machine, importerFolder == programFolder ? Origin::App : Origin::Module,
                 platform::kAnyVariant, *out))
        return answer;
    if ((places & pe::kSearchApplicationDir) &&
        takeFrom(programFolder, name, machine, Origin::App, platform::kAnyVariant, *out))
        return answer;
    if (places & pe::kSearchUserDirs)
        for (const std::string& dir : places_.userFolders())
            if (takeFrom(dir, name, machine, Origin::User, platform::kAnyVariant, *out)) return answer;
    if (places & pe::kSearchSystem32) {
        // System32 as the process sees it; Wine's builtin folders stand for it whole.
        for (const std::string& dir : m.builtin ? m.system : std::vector<std::string>{m.systemFolder})
            if (takeFrom(dir, name, machine, Origin::System, platform::kAnyVariant, *out)) return answer;
    }
    if (places & pe::kSearchApplicationDir)
        for (const platform::ToolchainFolder& t : m.toolchain) {
            if (program.variant != platform::kAnyVariant && t.variant != platform::kAnyVariant && t.variant != program.variant)
                continue;
            if (takeFrom(t.path, name, machine, Origin::Toolchain, t.variant, *out)) return answer;
        }
    // Found nowhere: the folder of the default order that holds it, if any.
    const LocationPtr usual = search(name, program, machine);
    if (usual->found) out->skippedFolder = platform::directoryPart(usual->path);
    return answer;
}

LocationPtr Loader::mapped(std::shared_ptr<Location> found) {
    found->mappable = reads_.image(found->path)->loadable;
    return found;
}

bool Loader::accept(const std::string& path, std::uint16_t machine, Location& out) {
    // A candidate the process cannot map is skipped, as the loader skips
    // it, and the search goes on; 0 on either side skips nothing.
    if (machine == 0) return true;
    const auto image = reads_.image(path);
    if (loadableInto(machine, image->machine, image->codeKind)) return true;
    if (out.otherPath.empty()) {
        out.otherPath = platform::listPath(path);
        out.otherMachine = image->machine;
    }
    return false;
}

std::shared_ptr<const sxs::ActivationContext> Loader::ownContext(const std::string& module, const pe::ImageRead& image,
                                                                 const std::string& programFolder) {
    if (!store_.present()) return nullptr;
    return store_.moduleContext(module, image.isDll, image.machine, programFolder, image.manifest.get());
}

std::shared_ptr<const sxs::ActivationContext> Loader::context(const std::string& module, const pe::ImageRead& image,
                                                              const Program& program) {
    if (module == program.path) return program.context;
    auto own = ownContext(module, image, program.folder);
    return own ? own : program.context;
}

bool Loader::hasGlobalAssemblyCache() {
    if (!gacRoots_) {
        gacRoots_.emplace();
        const std::string& windows = places_.windowsFolder();
        const std::string net4 = platform::subfolderIgnoringCase(platform::subfolderIgnoringCase(windows, "Microsoft.NET"),
                                                                 "assembly");
        const std::string net2 = platform::subfolderIgnoringCase(windows, "assembly");
        for (const std::string& root : {net4, net2})
            for (const char* gac : {"GAC_MSIL", "GAC_32", "GAC_64"})
                if (const std::string f = platform::subfolderIgnoringCase(root, gac); !f.empty()) gacRoots_->push_back(f);
    }
    return !gacRoots_->empty();
}

LocationPtr Loader::findAssembly(const pe::AssemblyName& ref, const Program& program, std::uint16_t machine) {
    const auto found = [&](const std::string& path, Origin origin) {
        auto l = foundAt(path, origin);
        l->assembly = pe::displayName(ref);
        return mapped(std::move(l));
    };
    std::string path;
    // What the app's deps file selects is what the host loads.
    if (program.depsAssets && (ref.culture.empty() || ref.culture == "neutral"))
        if (const auto it = program.depsAssets->find(platform::toLower(ref.name)); it != program.depsAssets->end())
            return found(it->second, Origin::App);
    // The program's folder, then its culture folder for a satellite.
    for (const char* extension : {".dll", ".exe"})
        if (reads_.findFile(program.folder, ref.name + extension, path)) return found(path, Origin::App);
    if (!ref.culture.empty() && ref.culture != "neutral") {
        const std::string satellites = platform::subfolderIgnoringCase(program.folder, ref.culture);
        if (!satellites.empty() && reads_.findFile(satellites, ref.name + ".dll", path)) return found(path, Origin::App);
    }
    // The global assembly cache of a strong-named reference.
    if (hasGlobalAssemblyCache() && !ref.publicKeyToken.empty()) {
        const std::string culture = ref.culture == "neutral" ? std::string() : ref.culture;
        const std::string tail = ref.versionText() + "_" + culture + "_" + ref.publicKeyToken;
        for (const std::string& root : *gacRoots_) {
            // A 32-bit program sees the 32-bit cache, a 64-bit one the 64-bit cache.
            const std::string bits = platform::fileNamePart(root);
            if ((bits == "GAC_32" && machine == platform::kMachineAmd64) ||
                (bits == "GAC_64" && machine == platform::kMachineI386))
                continue;
            const std::string named = platform::subfolderIgnoringCase(root, ref.name);
            const bool net4 =
                platform::toLower(platform::directoryPart(platform::directoryPart(root))).ends_with("microsoft.net");
            const std::string version = platform::subfolderIgnoringCase(named, (net4 ? "v4.0_" : "") + tail);
            if (!version.empty() && reads_.findFile(version, ref.name + ".dll", path)) return found(path, Origin::Gac);
        }
    }
    auto none = std::make_shared<Location>();
    none->assembly = pe::displayName(ref);
    return none;
}

}  // namespace loader
