#include "inspect/closure.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "inspect/dotnet/depsjson.h"
#include "inspect/dotnet/frameworks.h"
#include "inspect/dotnet/netfxlist.h"
#include "inspect/dotnetapp.h"
#include "inspect/lines.h"
#include "inspect/run.h"
#include "platform/platform.h"

using analysis::DotnetApp;
using analysis::DotnetKind;
using analysis::FrameworkAnswer;

namespace {

constexpr std::size_t kNone = SIZE_MAX;

// What a walk shows: the run's own, or the whole closure with every
// function checked, as the choice of a toolchain variant needs.
struct WalkKind {
    bool recursive = false;
    bool functions = false;
};

// One image of the closure while it is walked.
struct Module {
    Module(std::string name, std::string key, std::size_t node) : name(std::move(name)), key(std::move(key)), node(node) {}

    std::string name;      // as given (the listed file) or as found
    std::string key;       // name lower-cased, as the found list compares it
    std::size_t node = 0;  // 0 for the listed file, else 1 + its index in the found list
    std::shared_ptr<const pe::ImageRead> image;
    ModuleTablesPtr tables;                // its entries, resolved
    std::size_t next = 0;                  // next entry to follow
    std::size_t pending = kNone;           // an entry whose function lines wait for its DLL's walk
    bool wrongFormat = false;              // the walk stopped on a bad image, after the names
    bool done = false;
};

// The closure of one listed file, walked with an explicit stack rather than
// nested calls, so a long chain of DLLs never exhausts the call stack.
class Walker {
public:
    Walker(AnalysisRun& run, Closure& out, WalkKind kind) : run_(run), out_(out), kind_(kind) {}

    void alreadyFound(const std::vector<std::string>& paths) {
        for (const std::string& p : paths) foundKeys_.emplace(platform::toLower(p), kNone);
    }

    // Returns the listed file's Done. `variant`: the toolchain variant the
    // closure's DLLs are held to.
    bool walk(const std::string& name, int variant) {
        program_ = loader::Program{};
        program_.path = name;
        program_.folder = platform::directoryPart(name);
        program_.variant = variant;
        Module top(name, platform::toLower(name), 0);
        out_.listed = name;
        out_.imports.emplace_back();
        out_.tables.emplace_back();
        read(top);
        program_.machine = analysis::runsAs(*top.image);
        if (run_.options().assemblies) dotnetChecks(top);
        program_.context = loader().ownContext(name, *top.image, program_.folder);
        program_.key.assign(reinterpret_cast<const char*>(&variant), sizeof variant);
        // The program's own context is the program's: its path tells it apart.
        program_.key.append(program_.context || program_.depsAssets ? program_.path : program_.folder);
        missingAssemblies(top, program_.context.get());
        out_.machine = top.image->machine;
        out_.runsAs = program_.machine;
        walkFrom(top);
        return top.done;
    }

    void add(Finding finding, std::size_t node, bool fromDelayEntry) {
        finding.node = node;
        finding.fromDelayEntry = fromDelayEntry;
        out_.findings.push_back(std::move(finding));
    }

private:
    loader::Loader& loader() { return run_.linker().loader(); }

    // A .NET 5+ program's shared frameworks, chosen as its host chooses
    // them where the Windows checked against (or --dotnet) keeps them.
    void dotnetChecks(const Module& top) {
        app_ = analysis::dotnetApp(top.name, *top.image);
        const char* kind = analysis::dotnetKindKey(app_.kind);
        out_.dotnetKind = kind ? kind : "";
        if (app_.kind == DotnetKind::FrameworkDependent) frameworks(top);
        if (app_.kind == DotnetKind::FrameworkDependent || app_.kind == DotnetKind::SelfContained) depsAssets(top);
        if (!app_.bundle) return;
        // The references of a single-file app's assemblies: the bundle
        // first, then the app's folder, then its framework.
        for (const pe::AssemblyName& ref : app_.bundledReferences) {
            if (app_.carries(ref.name) || loader().findAssembly(ref, program_, program_.machine)->found ||
                !reportedReference(ref))
                continue;
            add(lines::missingAssembly(ref.name, ref.versionText(), top.name), 0, false);
        }
    }

    void frameworks(const Module& top) {
        std::vector<std::string> roots;
        if (!run_.options().dotnetFolder.empty()) roots.push_back(run_.options().dotnetFolder);
        else if (const std::string& windows = loader().places().windowsFolder(); !windows.empty())
            roots = dotnet::dotnetRoots(windows, program_.machine);
        frameworksChecked_ = out_.frameworksChecked = !roots.empty();
        for (const FrameworkAnswer& a : analysis::chooseFrameworks(app_, roots)) {
            out_.frameworks.push_back(analysis::frameworkRedistName(a.name, a.version, program_.machine));
            if (a.found) frameworkFolders_.push_back(a.folder);
            else frameworksChecked_ = false;  // its line stands for the references it would answer
            if (!a.found && a.checked) add(lines::missingFramework(a.name, a.version, top.name, a.versions), 0, false);
        }
    }

    // Each asset the app's deps file selects for Windows must be where the
    // host looks for it; the managed ones answer the references.
    void depsAssets(const Module& top) {
        const std::string depsPath = analysis::siblingOf(top.name, ".deps.json");
        const dotnet::DepsJson deps = app_.bundledDeps ? *app_.bundledDeps : dotnet::readDepsJson(depsPath);
        if (deps.outcome != dotnet::DepsJson::Outcome::Read) return;
        auto byName = std::make_shared<std::unordered_map<std::string, std::string>>();
        const std::string folder = platform::directoryPart(top.name);
        for (const dotnet::SelectedAsset& a :
             dotnet::selectAssets(deps, program_.machine, app_.kind == DotnetKind::SelfContained)) {
            // What the bundle carries is loaded from it.
            if (app_.bundle && std::find(app_.bundled.begin(), app_.bundled.end(), platform::toLower(a.appPath)) !=
                                   app_.bundled.end())
                continue;
            // Each folder of the path, then the file, matched as Windows
            // matches names, through the run's folder index.
            const std::size_t last = a.appPath.rfind('/');
            const std::size_t name = last == std::string::npos ? 0 : last + 1;
            std::string dir = folder, full;
            for (std::size_t at = 0; at < name && !dir.empty();) {
                const std::size_t slash = a.appPath.find('/', at);
                if (slash > at) dir = platform::subfolderIgnoringCase(dir, a.appPath.substr(at, slash - at));
                at = slash + 1;
            }
            if (dir.empty() || !run_.reads().findFile(dir, a.appPath.substr(name), full)) {
                add(lines::missingAsset(a.appPath, top.name, platform::fileNamePart(depsPath),
                                        a.kind == dotnet::AssetKind::Native),
                    0, false);
                continue;
            }
            full = platform::listPath(full);
            out_.depsFiles.push_back(full);
            if (a.kind == dotnet::AssetKind::Runtime) {
                std::string stem = platform::fileNamePart(full);
                if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
                byName->emplace(platform::toLower(stem), full);
            }
        }
        program_.depsAssets = std::move(byName);
    }

    // Whether a reference found nowhere is a line: not when the framework
    // the program runs on holds it, or when no framework is there to tell.
    bool reportedReference(const pe::AssemblyName& ref) {
        switch (app_.kind) {
            case DotnetKind::None:
            case DotnetKind::Framework:
                // The framework's own assemblies by name and key, not every
                // Microsoft-signed one: NuGet's sit beside the program.
                return loader().hasGlobalAssemblyCache() || !dotnet::isNetFxAssembly(ref.name, ref.publicKeyToken);
            default: break;
        }
        if (!frameworksChecked_) return !pe::frameworkToken(ref.publicKeyToken);
        for (const std::string& folder : frameworkFolders_)
            if (std::string found; run_.reads().findFile(folder, ref.name + ".dll", found)) return false;
        return true;
    }

    void read(Module& m) {
        m.image = run_.reads().image(m.name);
        switch (m.image->outcome) {
            case pe::ImageRead::Outcome::Read:
            case pe::ImageRead::Outcome::NoImport: m.done = true; break;
            case pe::ImageRead::Outcome::WrongFormat: m.wrongFormat = true; break;
            default:
                if (reported_.insert(m.key).second) add(imageFinding(m.name, *m.image), m.node, false);
                break;
        }
        // Tables read for the checks that run off the file make a bad image,
        // as any read outside the file does.
        if (m.image->tablesDamaged) m.wrongFormat = true;
    }

    // The assemblies a module's own manifest asks for that the store and
    // the program's folder lack: one line each, before its imports'.
    void missingAssemblies(Module& m, const sxs::ActivationContext* context) {
        if (!context) return;
        for (const sxs::DependentAssembly& d : context->missing)
            add(lines::missingAssembly(d.identity.name, d.identity.versionText, m.name), m.node, false);
    }

    void finish(Module& m) {
        if (!m.wrongFormat) return;
        m.done = false;
        if (reported_.insert(m.key).second) add(lines::notWin32(m.name), m.node, false);
    }

    // The function lines of entry i, after the DLL's own lines.
    void checkFunctions(Module& m, std::size_t i) {
        const Link& link = m.tables->links[i];
        if (!kind_.functions || link.entry.kind == TableEntry::Kind::Reference ||
            link.entry.kind == TableEntry::Kind::PInvoke)
            return;
        const FunctionCheck& check =
            run_.linker().check(link, m.name, *run_.reads().imageWithFunctions(m.name), program_);
        const bool delayed = link.entry.delayed();
        if (check.dllUnreadable) {
            // The DLL's own line stands for its functions, once in the closure.
            if (reported_.insert(link.location->key).second) add(check.dllLine, m.node, delayed);
            return;
        }
        for (const Finding& f : check.missing) add(f, m.node, delayed);
    }

    // A found assembly older than the reference asks.
    void olderAssembly(const pe::AssemblyName& ref, const loader::Location& r, const Module& importer) {
        const auto found = run_.reads().image(r.path);
        if (!found->managed || !found->managed->hasAssembly || !pe::olderThan(found->managed->assembly, ref)) return;
        Finding f = lines::oldAssembly(ref.name, ref.versionText(), found->managed->assembly.versionText(), importer.name);
        f.assembly = r.assembly;
        add(std::move(f), importer.node, false);
    }

    // An entry that leads nowhere: its line.
    void missing(const Module& m, const Link& link) {
        const loader::Location& r = *link.location;
        const TableEntry& e = link.entry;
        if (!e.reference && r.dependentLoadFlags && r.otherPath.empty()) {
            add(lines::missingDllLimited(e.name, m.name, r.dependentLoadFlags, r.skippedFolder, e.delayed()), m.node,
                e.delayed());
        } else if (!e.reference) {
            add(lines::missingDll(e.name, m.name, r.otherPath, r.otherMachine, e.delayed()), m.node, e.delayed());
        } else if (reportedReference(*e.reference)) {
            Finding f = lines::missingAssembly(e.reference->name, e.reference->versionText(), m.name);
            f.assembly = r.assembly;
            add(std::move(f), m.node, false);
        } else {
            out_.frameworkReferences.push_back(&link);
        }
    }

    // Follows entry i of `m`: its line when it leads nowhere, its DLL added
    // to the closure when new. Returns the DLL's module when it is to be
    // walked next (the whole closure), else null.
    std::unique_ptr<Module> follow(Module& m, std::size_t i) {
        const Link& link = m.tables->links[i];
        const loader::Location& r = *link.location;
        std::vector<ImportEdge>& edges = out_.imports[m.node];
        if (!r.found) {
            edges.push_back({&link, kNoNode});
            missing(m, link);
            return nullptr;
        }
        if (link.entry.reference) olderAssembly(*link.entry.reference, r, m);
        const auto [at, added] = foundKeys_.emplace(r.key, out_.found.size());
        edges.push_back({&link, at->second == kNone ? kNoNode : at->second + 1});
        if (!added) {
            checkFunctions(m, i);
            return nullptr;
        }
        out_.found.push_back({link.location, false, m.node});
        out_.imports.emplace_back();
        out_.tables.emplace_back();
        // A file the loader cannot map stops there: its own line, with or
        // without the closure, and nothing of it to walk.
        if (!r.mappable) {
            if (reported_.insert(r.key).second)
                add(imageFinding(r.path, *run_.reads().image(r.path)), out_.found.size(), link.entry.delayed());
            checkFunctions(m, i);
            return nullptr;
        }
        if (!kind_.recursive) {
            checkFunctions(m, i);
            return nullptr;
        }
        // Its function lines wait until the DLL's own are in.
        m.pending = i;
        auto next = std::make_unique<Module>(r.path, r.key, out_.found.size());
        read(*next);
        missingAssemblies(*next, loader().ownContext(next->name, *next->image, program_.folder).get());
        return next;
    }

    void walkFrom(Module& top) {
        std::vector<std::unique_ptr<Module>> stack;
        Module* current = &top;
        for (;;) {
            if (current->pending != kNone) {
                checkFunctions(*current, current->pending);
                current->pending = kNone;
            }
            if (!current->tables) {
                current->tables = run_.linker().resolve(current->name, current->image, program_);
                out_.tables[current->node] = current->tables;
            }
            std::unique_ptr<Module> next;
            while (!next && current->next < current->tables->links.size()) next = follow(*current, current->next++);
            if (next) {
                stack.push_back(std::move(next));
                current = stack.back().get();
                continue;
            }
            finish(*current);
            if (stack.empty()) break;
            stack.pop_back();
            current = stack.empty() ? &top : stack.back().get();
        }
    }

    AnalysisRun& run_;
    Closure& out_;
    WalkKind kind_;
    loader::Program program_;
    DotnetApp app_;
    bool frameworksChecked_ = false;
    std::vector<std::string> frameworkFolders_;
    std::unordered_map<std::string, std::size_t> foundKeys_;  // found paths, lower-cased, to their index
    std::unordered_set<std::string> reported_;  // images whose own line was added
};

// Which DLLs and lines the program meets only through delay-load tables,
// once the closure is walked: what no chain of plain imports reaches.
void markDelayLoaded(Closure& c, bool delayLoad) {
    const std::size_t nodes = c.found.size() + 1;
    std::vector<bool> atStart(nodes, !delayLoad);
    if (delayLoad) {
        std::deque<std::size_t> todo{0};
        atStart[0] = true;
        while (!todo.empty()) {
            const std::size_t n = todo.front();
            todo.pop_front();
            if (n >= c.imports.size()) continue;
            for (const ImportEdge& e : c.imports[n])
                if (!e.delayed() && e.to != kNoNode && e.to < nodes && !atStart[e.to]) {
                    atStart[e.to] = true;
                    todo.push_back(e.to);
                }
        }
    }
    const auto loadsLate = [&](std::size_t node) { return node < nodes && !atStart[node]; };
    for (std::size_t k = 0; k < c.found.size(); ++k) c.found[k].delayLoaded = loadsLate(k + 1);
    for (Finding& f : c.findings) f.delayLoaded = f.fromDelayEntry || loadsLate(f.node);
}

// The toolchain variant that the closure of the program `name` (of
// `machine`) is held to: the first whose folder holds every toolchain DLL of
// the closure, with every function asked of it, so that the program never
// gets one variant's runtime with another's; none when no variant does.
int chooseVariant(AnalysisRun& run, const std::string& name, std::uint16_t machine) {
    const auto walked = [&](int variant) {
        Closure out;
        Walker(run, out, {true, true}).walk(name, variant);
        return out;
    };
    const auto fileNames = [](const Closure& in, bool (*take)(const FoundDll&)) {
        std::unordered_set<std::string> names;
        for (const FoundDll& f : in.found)
            if (take(f)) names.insert(platform::toLower(platform::fileNamePart(f.path())));
        return names;
    };
    const auto missingDlls = [](const Closure& in) {
        std::size_t n = 0;
        for (const Finding& f : in.findings) n += f.problem == Problem::MissingDll || f.problem == Problem::WrongMachine;
        return n;
    };
    const Closure any = walked(platform::kAnyVariant);
    const auto inVariant = [](const FoundDll& f) { return f.location->variant != platform::kAnyVariant; };
    const auto toolchain = [](const FoundDll& f) { return f.location->origin == loader::Origin::Toolchain; };
    const std::unordered_set<std::string> wanted = fileNames(any, toolchain);
    if (fileNames(any, inVariant).empty()) return platform::kAnyVariant;
    const int count = run.places().forMachine(machine).variants;
    for (int v = 0; v < count; ++v) {
        const Closure trial = walked(v);
        const std::unordered_set<std::string> got = fileNames(trial, toolchain);
        bool fits = missingDlls(trial) <= missingDlls(any);
        for (const std::string& n : wanted) fits = fits && got.count(n);
        for (const Finding& f : trial.findings)
            fits = fits && !(f.problem == Problem::MissingFunction && got.count(platform::toLower(f.dll)));
        if (fits) return v;
    }
    return platform::kAnyVariant;
}

}  // namespace

const std::string& Closure::nodePath(std::size_t node) const {
    static const std::string none;
    if (node == 0) return listed;
    return node <= found.size() ? found[node - 1].path() : none;
}

Closure walkClosure(const std::string& path, AnalysisRun& run, const std::vector<std::string>* alreadyFound) {
    const RunOptions& options = run.options();
    const WalkKind kind{options.recursive, options.functions};
    Closure out;
    std::optional<Walker> walk(std::in_place, run, out, kind);
    if (alreadyFound) walk->alreadyFound(*alreadyFound);
    try {
        out.done = walk->walk(path, platform::kAnyVariant);
        // A closure holding a toolchain variant's DLLs is walked again with
        // the one variant that serves it whole.
        const bool variants = std::any_of(out.found.begin(), out.found.end(), [](const FoundDll& f) {
            return f.location->variant != platform::kAnyVariant;
        });
        if (variants && run.places().forMachine(out.runsAs).variants > 1) {
            const int v = chooseVariant(run, path, out.runsAs);
            // A walk that took every variant DLL from that variant already is the answer.
            const bool same = std::all_of(out.found.begin(), out.found.end(), [v](const FoundDll& f) {
                return f.location->variant == platform::kAnyVariant || f.location->variant == v;
            });
            if (v != platform::kAnyVariant && !same) {
                out = Closure{};
                walk.emplace(run, out, kind);
                if (alreadyFound) walk->alreadyFound(*alreadyFound);
                out.done = walk->walk(path, v);
            }
        }
    } catch (const std::exception&) {
        // Out of memory (or the like) half-way: the file's own line; what was
        // found before stays, as for a bad image.
        out.done = false;
        try {
            walk->add(lines::unreadable(path, lines::Unreadable::NotViewable), 0, false);
        } catch (...) {
        }
    }
    try {
        markDelayLoaded(out, options.delayLoad);
    } catch (...) {
        for (FoundDll& f : out.found) f.delayLoaded = false;
        for (Finding& f : out.findings) f.delayLoaded = false;
    }
    return out;
}
