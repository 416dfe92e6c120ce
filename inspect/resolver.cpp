#include "inspect/resolver.h"

#include "inspect/lines.h"
#include "platform/apiset.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// A loader follows a chain of forwarders; a cycle, or a chain longer than
// any system builds, leads nowhere.
constexpr int kMaxForwards = 16;
constexpr std::size_t kMaxDllName = 259;

}  // namespace

std::shared_ptr<const sxs::ActivationContext> Resolver::ownContext(const std::string& module, const ImageImports& image,
                                                                   const std::string& programFolder) {
    if (!store_.present()) return nullptr;
    return store_.moduleContext(module, image.isDll, image.machine, programFolder, image.manifest.get());
}

std::shared_ptr<const sxs::ActivationContext> Resolver::context(const std::string& module, const ImageImports& image,
                                                                const Program& program) {
    if (module == program.path) return program.context;
    auto own = ownContext(module, image, program.folder);
    return own ? own : program.context;
}

LocatedPtr Resolver::resolveIn(const std::string& name, const std::string& importerName, const Program& program,
                               std::uint16_t machine, const sxs::ActivationContext* context) {
    // The loader maps a known API set name to its host before any search.
    std::string host;
    const bool apiSet = platform::isApiSetName(name) &&
                        search_.apiSetSchema().resolve(name, importerName, host) == platform::ApiSetSchema::Lookup::Host;
    const std::string& wanted = apiSet ? host : name;
    // Then the files of the module's side-by-side assemblies.
    if (context) {
        if (const sxs::Redirection* r = context->find(wanted); r && r->present) {
            auto l = locatedAt(r->path, platform::Origin::Sxs);
            l->originDetail = r->assembly ? r->assembly->label() : platform::fileNamePart(context->manifestPath);
            return l;
        }
    }
    return reads_.search(wanted, program, machine);
}

LocatedPtr Resolver::resolve(const std::string& name, const std::string& importer, const Program& program,
                             std::uint16_t machine) {
    const auto image = reads_.imports(importer);
    const auto ctx = context(importer, *image, program);
    return resolveIn(name, platform::fileNamePart(importer), program, machine, ctx.get());
}

bool Resolver::hasGlobalAssemblyCache() {
    if (!gacRoots_) {
        gacRoots_.emplace();
        const std::string windows = search_.windowsFolder();
        const std::string net4 = platform::subfolderIgnoringCase(platform::subfolderIgnoringCase(windows, "Microsoft.NET"),
                                                                 "assembly");
        const std::string net2 = platform::subfolderIgnoringCase(windows, "assembly");
        for (const std::string& root : {net4, net2})
            for (const char* gac : {"GAC_MSIL", "GAC_32", "GAC_64"})
                if (const std::string f = platform::subfolderIgnoringCase(root, gac); !f.empty()) gacRoots_->push_back(f);
    }
    return !gacRoots_->empty();
}

LocatedPtr Resolver::locateAssembly(const AssemblyName& ref, const Program& program, std::uint16_t machine) {
    const auto found = [&](const std::string& path, platform::Origin origin) {
        auto l = locatedAt(path, origin);
        l->assembly = displayName(ref);
        return l;
    };
    std::string path;
    for (const char* extension : {".dll", ".exe"})
        if (search_.findFile(program.folder, ref.name + extension, path)) return found(path, platform::Origin::App);
    if (!ref.culture.empty() && ref.culture != "neutral") {
        const std::string satellites = platform::subfolderIgnoringCase(program.folder, ref.culture);
        if (!satellites.empty() && search_.findFile(satellites, ref.name + ".dll", path))
            return found(path, platform::Origin::App);
    }
    if (hasGlobalAssemblyCache() && !ref.publicKeyToken.empty()) {
        const std::string culture = ref.culture == "neutral" ? std::string() : ref.culture;
        const std::string tail = ref.versionText() + "_" + culture + "_" + ref.publicKeyToken;
        for (const std::string& root : *gacRoots_) {
            // A 32-bit program sees the 32-bit cache, a 64-bit one the 64-bit cache.
            const std::string bits = platform::fileNamePart(root);
            if ((bits == "GAC_32" && machine == platform::kMachineAmd64) || (bits == "GAC_64" && machine == platform::kMachineI386))
                continue;
            const std::string named = platform::subfolderIgnoringCase(root, ref.name);
            const bool net4 = platform::toLower(platform::directoryPart(platform::directoryPart(root))).ends_with("microsoft.net");
            const std::string version = platform::subfolderIgnoringCase(named, (net4 ? "v4.0_" : "") + tail);
            if (!version.empty() && search_.findFile(version, ref.name + ".dll", path)) return found(path, platform::Origin::Gac);
        }
    }
    auto none = std::make_shared<Located>();
    none->assembly = displayName(ref);
    return none;
}


std::shared_ptr<const std::vector<LocatedPtr>> Resolver::resolveAll(const std::string& importer, const Program& program,
                                                                    std::uint16_t machine, const ImageImports& image) {
    auto& cache = resolved_[program.key];
    if (const auto it = cache.find(importer); it != cache.end()) return it->second;
    auto all = std::make_shared<std::vector<LocatedPtr>>();
    all->reserve(image.names.size() + image.delayNames.size());
    const std::string name = platform::fileNamePart(importer);
    const auto ctx = context(importer, image, program);
    const auto add = [&](const std::vector<DllName>& names) {
        for (const DllName& dll : names)
            all->push_back(dll.searchable ? resolveIn(dll.text, name, program, machine, ctx.get()) : notLocated());
    };
    add(image.names);
    if (options_.delayLoad) add(image.delayNames);
    if (options_.assemblies && image.managed) {
        for (const AssemblyName& ref : image.managed->references) all->push_back(locateAssembly(ref, program, machine));
        // P/Invoke DLLs are loaded at their first call, as delay-loaded ones.
        if (options_.delayLoad)
            for (const std::string& module : image.managed->moduleRefs)
                all->push_back(resolveIn(pinvokeDllName(module), name, program, machine, ctx.get()));
    }
    cache.emplace(importer, all);
    return all;
}

Resolver::Lookup Resolver::findExport(std::shared_ptr<const ExportTable> table, std::string dll, const Program& program,
                                      std::string_view name, std::uint32_t ordinal, bool byOrdinal) {
    std::string forward, function(name);
    for (int hop = 0;; ++hop) {
        const ExportTable::Entry e = byOrdinal ? table->byOrdinal(ordinal) : table->byName(function);
        if (!e.exported) return hop == 0 ? Lookup{Lookup::Missing, {}} : Lookup{Lookup::BrokenForward, forward};
        if (!e.forward) return {Lookup::Present, {}};
        forward = *e.forward;
        const Lookup broken{Lookup::BrokenForward, forward};
        // "OTHER.Function" or "OTHER.#12"; the module gets ".dll" unless it has
        // an extension of its own, as the loader does.
        const std::size_t dot = forward.rfind('.');
        if (hop == kMaxForwards || dot == std::string::npos || dot == 0 || dot + 1 == forward.size()) return broken;
        std::string module = forward.substr(0, dot);
        if (module.find('.') == std::string::npos) module += ".dll";
        if (module.size() > kMaxDllName) return broken;
        function = forward.substr(dot + 1);
        byOrdinal = function[0] == '#';
        if (byOrdinal) {
            if (function.size() < 2 || function.size() > 6 ||
                function.find_first_not_of("0123456789", 1) != std::string::npos)
                return broken;
            ordinal = static_cast<std::uint32_t>(std::stoul(function.substr(1)));
        }
        const std::uint16_t m = reads_.machine(dll);
        const LocatedPtr r = resolve(platform::cp1252ToUtf8(module), dll, program, m);
        if (!r->found) return broken;
        dll = r->path;
        table = reads_.exports(dll);
        if (table->state != ExportTable::State::Read) return broken;
    }
}

std::shared_ptr<const std::vector<Resolver::FunctionCheck>> Resolver::checkFunctions(
    const std::string& importer, const Program& program, const ImageImports& image,
    const std::vector<LocatedPtr>& resolved) {
    auto& cache = checked_[program.key];
    if (const auto it = cache.find(importer); it != cache.end()) return it->second;
    auto all = std::make_shared<std::vector<FunctionCheck>>(resolved.size());
    const std::size_t tables = std::min(resolved.size(), image.names.size() + image.delayNames.size());
    for (std::size_t i = 0; i < tables; ++i) {
        const bool delayed = i >= image.names.size();
        const DllName& dll = delayed ? image.delayNames[i - image.names.size()] : image.names[i];
        const Located& r = *resolved[i];
        if (!r.found || dll.functions.empty()) continue;
        FunctionCheck& check = (*all)[i];
        const std::shared_ptr<const ExportTable> table = reads_.exports(r.path);
        if (table->state != ExportTable::State::Read) {
            check.dllUnreadable = true;
            check.dllLine = table->state == ExportTable::State::Damaged ? lines::notWin32(r.path)
                                                                        : imageFinding(r.path, *reads_.imports(r.path));
            continue;
        }
        for (const ImportedFunction& f : dll.functions) {
            const std::string_view name(image.functionNames.data() + f.at, f.length);
            const Lookup found = findExport(table, r.path, program, name, f.ordinal, f.byOrdinal);
            if (found.outcome == Lookup::Present) continue;
            const std::string function =
                f.byOrdinal ? "#" + std::to_string(f.ordinal) : imageText(name) + (f.cut ? "…" : "");
            const bool broken = found.outcome == Lookup::BrokenForward;
            check.missing.push_back(lines::missingFunction(function, r.path, dll.text, importer, broken,
                                                           broken ? imageText(found.forward) : std::string(), delayed));
        }
    }
    cache.emplace(importer, all);
    return all;
}

Finding imageFinding(const std::string& name, const ImageImports& image) {
    switch (image.outcome) {
        case ImageImports::Outcome::NotOpenable: return lines::unreadable(name, lines::Unreadable::NotOpenable);
        case ImageImports::Outcome::NotMappable: return lines::unreadable(name, lines::Unreadable::NotMappable);
        case ImageImports::Outcome::NotViewable: return lines::unreadable(name, lines::Unreadable::NotViewable);
        default: return lines::notWin32(name);
    }
}
