#include "inspect/uimports.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "inspect/lines.h"
#include "platform/platform.h"

std::vector<std::string> PEFile::Found;
std::vector<std::string> PEFile::Errors;
bool PEFile::Recursive = false;
int PEFile::liveObjects_ = 0;

namespace {

constexpr std::size_t kNone = SIZE_MAX;

// One image of the closure while it is walked.
struct Module {
    Module(std::string name, std::string key, std::size_t node) : name(std::move(name)), key(std::move(key)), node(node) {}

    std::string name;         // as given (the listed file) or as found
    std::string key;          // name lower-cased, as the found list compares it
    std::size_t node = 0;     // 0 for the listed file, else 1 + its index in the found list
    std::shared_ptr<const ImageImports> image;
    std::shared_ptr<const std::vector<LocatedPtr>> resolved;               // names, then delay-load names
    std::shared_ptr<const std::vector<Resolver::FunctionCheck>> checked;  // aligned with resolved
    std::size_t next = 0;                  // next name to resolve
    std::size_t pending = kNone;           // a name whose function lines wait for its DLL's walk
    bool wrongFormat = false;              // the walk stopped on a bad image, after the names
    bool done = false;
};

// The closure of one listed file, walked with an explicit stack rather than
// nested objects, so a long chain of DLLs never exhausts the call stack.
class ClosureWalk {
public:
    ClosureWalk(AnalysisRun& run, Inspection& out) : run_(run), out_(out) {}

    // DLLs found before this walk (by another analysis sharing the lists):
    // neither listed nor walked again.
    void alreadyFound(const std::vector<std::string>& paths) {
        for (const std::string& p : paths) foundKeys_.emplace(platform::toLower(p), kNone);
    }

    // Returns the listed file's Done. `variant`: the toolchain variant the
    // closure's DLLs are held to.
    bool walk(const std::string& name, int variant) {
        program_ = {name, platform::directoryPart(name), variant, {}, nullptr};
        Module top(name, platform::toLower(name), 0);
        edges_.emplace_back();
        graph_ = run_.options().importGraph;
        if (graph_) out_.imports.emplace_back();
        read(top);
        program_.context = run_.resolver().ownContext(name, *top.image, program_.folder);
        program_.key.assign(reinterpret_cast<const char*>(&variant), sizeof variant);
        // The program's own context is the program's: its path tells it apart.
        program_.key.append(program_.context ? program_.path : program_.folder);
        missingAssemblies(top, program_.context.get());
        out_.machine = top.image->machine;
        walkFrom(top);
        return top.done;
    }

    void add(Finding finding, std::size_t node, bool delayed) {
        out_.findings.push_back(std::move(finding));
        lineOrigins_.emplace_back(node, delayed);
    }

    // Which DLLs and lines the program meets only through delay-load
    // tables, once the closure is walked.
    void markDelayLoaded() {
        const bool delayLoad = run_.options().delayLoad;
        std::vector<bool> atStart(edges_.size(), !delayLoad);
        if (delayLoad && !edges_.empty()) {
            std::deque<std::size_t> todo{0};
            atStart[0] = true;
            while (!todo.empty()) {
                const std::size_t n = todo.front();
                todo.pop_front();
                for (std::size_t next : edges_[n])
                    if (next < atStart.size() && !atStart[next]) {
                        atStart[next] = true;
                        todo.push_back(next);
                    }
            }
        }
        const auto loadsLate = [&](std::size_t node) { return node < atStart.size() && !atStart[node]; };
        for (std::size_t k = 0; k < out_.found.size(); ++k) out_.found[k].delayLoaded = loadsLate(k + 1);
        for (std::size_t j = 0; j < lineOrigins_.size() && j < out_.findings.size(); ++j)
            out_.findings[j].delayLoaded = lineOrigins_[j].second || loadsLate(lineOrigins_[j].first);
    }

private:
    void read(Module& m) {
        m.image = run_.reads().imports(m.name);
        switch (m.image->outcome) {
            case ImageImports::Outcome::Read:
            case ImageImports::Outcome::NoImport: m.done = true; break;
            case ImageImports::Outcome::WrongFormat: m.wrongFormat = true; break;
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

    // The function lines of name i, after the DLL's own lines.
    void checkFunctions(Module& m, std::size_t i) {
        if (!run_.options().functions || i >= m.image->names.size() + m.image->delayNames.size()) return;
        if (!m.checked) m.checked = run_.resolver().checkFunctions(m.name, program_, *m.image, *m.resolved);
        const Resolver::FunctionCheck& check = (*m.checked)[i];
        const bool delayed = i >= m.image->names.size();
        if (check.dllUnreadable) {
            // The DLL's own line stands for its functions, once in the closure.
            if (reported_.insert((*m.resolved)[i]->key).second) add(check.dllLine, m.node, delayed);
            return;
        }
        for (const Finding& f : check.missing) add(f, m.node, delayed);
    }

    // What an image's tables name, in order: its imports, its delay-load
    // DLLs, its .NET references, its P/Invoke DLLs (as the options ask).
    struct Entries {
        Entries(const ImageImports& image, const RunOptions& options)
            : image(image),
              imports(image.names.size()),
              delays(options.delayLoad ? image.delayNames.size() : 0),
              references(options.assemblies && image.managed ? image.managed->references.size() : 0),
              pinvokes(options.assemblies && options.delayLoad && image.managed ? image.managed->moduleRefs.size() : 0),
              total(imports + delays + references + pinvokes) {}
        bool delayed(std::size_t i) const { return (i >= imports && i < imports + delays) || i >= imports + delays + references; }
        const AssemblyName* reference(std::size_t i) const {
            const std::size_t j = i - imports - delays;
            return i >= imports + delays && j < references ? &image.managed->references[j] : nullptr;
        }
        // The name as a line or an edge shows it; `scratch` holds one made here.
        const std::string& name(std::size_t i, std::string& scratch) const {
            if (i < imports) return image.names[i].text;
            if (i < imports + delays) return image.delayNames[i - imports].text;
            if (const AssemblyName* ref = reference(i)) return ref->name;
            return scratch = pinvokeDllName(image.managed->moduleRefs[i - imports - delays - references]);
        }
        const ImageImports& image;
        std::size_t imports, delays, references, pinvokes, total;
    };

    // A found assembly older than the reference asks.
    void olderAssembly(const AssemblyName& ref, const Located& r, const Module& importer) {
        const auto found = run_.reads().imports(r.path);
        if (!found->managed || !found->managed->hasAssembly || !olderThan(found->managed->assembly, ref)) return;
        Finding f = lines::oldAssembly(ref.name, ref.versionText(), found->managed->assembly.versionText(), importer.name);
        f.assembly = r.assembly;
        add(std::move(f), importer.node, false);
    }

    void walkFrom(Module& top) {
        std::vector<std::unique_ptr<Module>> stack;
        const bool recursive = run_.options().recursive;
        Module* current = &top;
        for (;;) {
            bool descended = false;
            if (current->pending != kNone) {
                checkFunctions(*current, current->pending);
                current->pending = kNone;
            }
            const Entries entries(*current->image, run_.options());
            while (current->next < entries.total) {
                const std::size_t i = current->next++;
                const bool delayed = entries.delayed(i);
                std::string scratch;
                const std::string& name = entries.name(i, scratch);
                if (!current->resolved)
                    current->resolved =
                        run_.resolver().resolveAll(current->name, program_, current->image->machine, *current->image);
                const Located& r = *(*current->resolved)[i];
                const AssemblyName* ref = entries.reference(i);
                if (!r.found) {
                    if (graph_) out_.imports[current->node].push_back({name, kNoNode, delayed});
                    if (!ref) {
                        add(lines::missingDll(name, current->name, r.otherPath, r.otherMachine, delayed), current->node,
                            delayed);
                    } else if (!frameworkToken(ref->publicKeyToken) || run_.resolver().hasGlobalAssemblyCache()) {
                        // Without a global assembly cache, no machine here has the framework to check against.
                        Finding f = lines::missingAssembly(ref->name, ref->versionText(), current->name);
                        f.assembly = r.assembly;
                        add(std::move(f), current->node, false);
                    }
                    continue;
                }
                if (ref) olderAssembly(*ref, r, *current);
                const auto [at, added] = foundKeys_.emplace(r.key, out_.found.size());
                if (graph_)
                    out_.imports[current->node].push_back({name, at->second == kNone ? kNoNode : at->second + 1, delayed});
                if (!delayed && at->second != kNone) edges_[current->node].push_back(at->second + 1);
                if (!added) {
                    checkFunctions(*current, i);
                    continue;
                }
                out_.found.push_back({r.path, r.origin, r.originDetail, false, current->node, r.variant, r.assembly});
                edges_.emplace_back();
                if (graph_) out_.imports.emplace_back();
                // A file the loader cannot map stops there: its own line,
                // with or without the closure, and nothing of it to walk.
                if (const auto image = run_.reads().imports(r.path); !image->loadable) {
                    if (reported_.insert(r.key).second) add(imageFinding(r.path, *image), out_.found.size(), delayed);
                    checkFunctions(*current, i);
                    continue;
                }
                if (recursive) {
                    current->pending = i;
                    stack.push_back(std::make_unique<Module>(r.path, r.key, out_.found.size()));
                    current = stack.back().get();
                    read(*current);
                    missingAssemblies(*current,
                                      run_.resolver().ownContext(current->name, *current->image, program_.folder).get());
                    descended = true;
                    break;
                }
                checkFunctions(*current, i);
            }
            if (descended) continue;
            finish(*current);
            if (stack.empty()) break;
            stack.pop_back();
            current = stack.empty() ? &top : stack.back().get();
        }
    }

    AnalysisRun& run_;
    Inspection& out_;
    Program program_;
    bool graph_ = false;
    std::unordered_map<std::string, std::size_t> foundKeys_;  // found paths, lower-cased, to their index
    // The import-table edges between the closure's images (node 0 is the
    // listed file, node k + 1 found[k]), and the node and delay-load origin
    // of each line.
    std::vector<std::vector<std::size_t>> edges_;
    std::vector<std::pair<std::size_t, bool>> lineOrigins_;
    std::unordered_set<std::string> reported_;  // images whose own line was added
};

// The toolchain variant that the closure of the program `name` (of
// `machine`) is held to: the first whose folder holds every toolchain DLL of
// the closure, with every function asked of it, so that the program never
// gets one variant's runtime with another's; none when no variant does.
int chooseVariant(AnalysisRun& run, const std::string& name) {
    AnalysisRun& checks = run.closureChecks();
    const auto walked = [&](int variant) {
        Inspection out;
        ClosureWalk(checks, out).walk(name, variant);
        return out;
    };
    const auto fileNames = [](const Inspection& in, bool (*take)(const FoundDll&)) {
        std::unordered_set<std::string> names;
        for (const FoundDll& f : in.found)
            if (take(f)) names.insert(platform::toLower(platform::fileNamePart(f.path)));
        return names;
    };
    const auto missingDlls = [](const Inspection& in) {
        std::size_t n = 0;
        for (const Finding& f : in.findings) n += f.problem == Problem::MissingDll || f.problem == Problem::WrongMachine;
        return n;
    };
    const Inspection any = walked(platform::kAnyVariant);
    const auto inVariant = [](const FoundDll& f) { return f.variant != platform::kAnyVariant; };
    const auto toolchain = [](const FoundDll& f) { return f.origin == platform::Origin::Toolchain; };
    const std::unordered_set<std::string> wanted = fileNames(any, toolchain);
    if (fileNames(any, inVariant).empty()) return platform::kAnyVariant;
    const int count = run.search().variantCount(run.reads().imports(name)->machine);
    for (int v = 0; v < count; ++v) {
        const Inspection trial = walked(v);
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

PEFile::PEFile(const std::string& name) : Name(name) {
    if (liveObjects_++ == 0) {
        Found.clear();
        Errors.clear();
    }
    RunOptions options;
    options.recursive = Recursive;
    AnalysisRun run(std::move(options));
    // Alive at the same time as another PEFile: what it found is shared.
    analyse(run, liveObjects_ > 1 ? &Found : nullptr);
    for (FoundDll& f : run.inspection().found) Found.push_back(std::move(f.path));
    for (Finding& f : run.inspection().findings) Errors.push_back(std::move(f.line));
}

PEFile::PEFile(const std::string& name, AnalysisRun& run) : Name(name) {
    ++liveObjects_;
    analyse(run, nullptr);
}

PEFile::~PEFile() {
    if (--liveObjects_ == 0) {
        Found.clear();
        Errors.clear();
    }
}

void PEFile::AddError(const std::string& message) { Errors.push_back(Name + " " + message); }

void PEFile::analyse(AnalysisRun& run, const std::vector<std::string>* found) {
    Inspection& out = run.inspection();
    out = Inspection{};
    std::optional<ClosureWalk> walk(std::in_place, run, out);
    if (found) walk->alreadyFound(*found);
    try {
        Done = walk->walk(Name, platform::kAnyVariant);
        // A closure holding a toolchain variant's DLLs is walked again with
        // the one variant that serves it whole.
        const bool variants = std::any_of(out.found.begin(), out.found.end(), [](const FoundDll& f) {
            return f.variant != platform::kAnyVariant;
        });
        if (variants && run.search().variantCount(out.machine) > 1) {
            const int v = chooseVariant(run, Name);
            // A walk that took every variant DLL from that variant already is the answer.
            const bool same = std::all_of(out.found.begin(), out.found.end(), [v](const FoundDll& f) {
                return f.variant == platform::kAnyVariant || f.variant == v;
            });
            if (v != platform::kAnyVariant && !same) {
                out = Inspection{};
                walk.emplace(run, out);
                if (found) walk->alreadyFound(*found);
                Done = walk->walk(Name, v);
            }
        }
    } catch (const std::exception&) {
        // Out of memory (or the like) half-way: the file's own line; what was
        // found before stays, as for a bad image.
        Done = false;
        try {
            walk->add(lines::unreadable(Name, lines::Unreadable::NotViewable), 0, false);
        } catch (...) {
        }
    }
    Machine = out.machine;
    out.done = Done;
    try {
        walk->markDelayLoaded();
    } catch (...) {
        for (FoundDll& f : out.found) f.delayLoaded = false;
        for (Finding& f : out.findings) f.delayLoaded = false;
    }
}
