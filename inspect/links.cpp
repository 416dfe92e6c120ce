#include "inspect/links.h"

#include "inspect/dotnetapp.h"
#include "inspect/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// A loader follows a chain of forwarders; a cycle, or a chain longer than
// any system builds, leads nowhere.
constexpr int kMaxForwards = 16;

}  // namespace

ModuleTablesPtr Linker::resolve(const std::string& importer, const std::shared_ptr<const pe::ImageRead>& image,
                                const loader::Program& program) {
    auto& cache = resolved_[program.key];
    if (const auto it = cache.find(importer); it != cache.end()) return it->second;
    auto tables = std::make_shared<ModuleTables>();
    tables->image = image;
    const pe::ImageRead& read = *image;
    const auto context = loader_.context(importer, read, program);
    const loader::Importer who{importer, program.machine, context.get(), read.dependentLoadFlags};
    // An x64 process maps an ARM64X DLL through its EC view.
    const bool ec = read.hasEcView && program.machine == platform::kMachineAmd64;
    std::vector<Link>& links = tables->links;
    const auto link = [&](TableEntry::Kind kind, const std::string& name, std::size_t index,
                          const pe::AssemblyName* reference, loader::LocationPtr where) {
        Link& l = links.emplace_back();
        l.entry.kind = kind;
        l.entry.name = name;
        l.entry.index = index;
        l.entry.reference = reference;
        l.location = std::move(where);
    };
    const auto add = [&](TableEntry::Kind kind, const std::vector<pe::DllName>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const pe::DllName& dll = names[i];
            link(kind, dll.text, i, nullptr,
                 dll.searchable ? loader_.find(dll.text, who, program, kind == TableEntry::Kind::Import) : loader::nowhere());
        }
    };
    add(TableEntry::Kind::Import, ec ? read.ecImports.dlls : read.imports.dlls);
    if (options_.delayLoad) add(TableEntry::Kind::DelayImport, ec ? read.ecDelayImports.dlls : read.delayImports.dlls);
    if (options_.assemblies && read.managed) {
        for (const pe::AssemblyName& ref : read.managed->references)
            link(TableEntry::Kind::Reference, ref.name, 0, &ref, loader_.findAssembly(ref, program, program.machine));
        // P/Invoke DLLs are loaded at their first call, as delay-loaded ones.
        if (options_.delayLoad)
            for (const std::string& module : read.managed->moduleRefs) {
                // Calls into the image itself, or guarded for Linux and macOS.
                if (analysis::notAWindowsDll(module)) continue;
                const std::string dll = pe::pinvokeDllName(module);
                link(TableEntry::Kind::PInvoke, dll, 0, nullptr, loader_.find(dll, who, program, false));
            }
    }
    cache.emplace(importer, tables);
    return tables;
}

loader::LocationPtr Linker::resolveOne(const std::string& name, const std::string& importer,
                                       const loader::Program& program) {
    const auto image = reads_.image(importer);
    const auto context = loader_.context(importer, *image, program);
    return loader_.find(name, loader::Importer{importer, program.machine, context.get(), image->dependentLoadFlags}, program);
}

Linker::Lookup Linker::findExport(std::shared_ptr<const pe::ExportTable> table, std::string dll,
                                  const loader::Program& program, std::string_view name, std::uint32_t ordinal,
                                  bool byOrdinal) {
    std::string forward, function(name);
    for (int hop = 0;; ++hop) {
        const pe::ExportTable::Entry e = byOrdinal ? table->byOrdinal(ordinal) : table->byName(function);
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
        if (module.size() > pe::kMaxDllName) return broken;
        function = forward.substr(dot + 1);
        byOrdinal = function[0] == '#';
        if (byOrdinal) {
            if (function.size() < 2 || function.size() > 6 ||
                function.find_first_not_of("0123456789", 1) != std::string::npos)
                return broken;
            ordinal = static_cast<std::uint32_t>(std::stoul(function.substr(1)));
        }
        const loader::LocationPtr r = resolveOne(platform::cp1252ToUtf8(module), dll, program);
        if (!r->found) return broken;
        dll = r->path;
        table = reads_.exports(dll);
        if (table->state != pe::ExportTable::State::Read) return broken;
    }
}

const FunctionCheck& Linker::check(const Link& link, const std::string& importer, const pe::ImageRead& functions,
                                   const loader::Program& program) {
    if (link.check) return *link.check;
    auto check = std::make_shared<FunctionCheck>();
    const loader::Location& r = *link.location;
    // The same descriptor of the image read with its functions.
    const bool delayed = link.entry.kind == TableEntry::Kind::DelayImport;
    const bool ec = functions.hasEcView && program.machine == platform::kMachineAmd64;
    const pe::ImportTable* table = link.entry.kind == TableEntry::Kind::Import ? (ec ? &functions.ecImports : &functions.imports)
                                   : delayed ? (ec ? &functions.ecDelayImports : &functions.delayImports)
                                             : nullptr;
    const pe::DllName* dll = table && link.entry.index < table->dlls.size() ? &table->dlls[link.entry.index] : nullptr;
    if (r.found && dll && !dll->functions.empty()) {
        const std::shared_ptr<const pe::ExportTable> exports = reads_.exports(r.path);
        if (exports->state != pe::ExportTable::State::Read) {
            check->dllUnreadable = true;
            check->dllLine = exports->state == pe::ExportTable::State::Damaged ? lines::notWin32(r.path)
                                                                               : imageFinding(r.path, *reads_.image(r.path));
        } else {
            for (const pe::ImportedFunction& f : dll->functions) {
                const std::string_view name = table->functionName(f);
                const Lookup found = findExport(exports, r.path, program, name, f.ordinal, f.byOrdinal);
                if (found.outcome == Lookup::Present) continue;
                const std::string function =
                    f.byOrdinal ? "#" + std::to_string(f.ordinal) : pe::imageText(name) + (f.cut ? "…" : "");
                const bool broken = found.outcome == Lookup::BrokenForward;
                check->missing.push_back(lines::missingFunction(function, r.path, dll->text, importer, broken,
                                                                broken ? pe::imageText(found.forward) : std::string(),
                                                                delayed));
            }
        }
    }
    link.check = std::move(check);
    return *link.check;
}

Finding imageFinding(const std::string& name, const pe::ImageRead& image) {
    switch (image.outcome) {
        case pe::ImageRead::Outcome::NotOpenable: {
            Finding f = lines::unreadable(name, lines::Unreadable::NotOpenable);
            f.reason = image.openFailure;
            return f;
        }
        case pe::ImageRead::Outcome::NotMappable: return lines::unreadable(name, lines::Unreadable::NotMappable);
        case pe::ImageRead::Outcome::NotViewable: return lines::unreadable(name, lines::Unreadable::NotViewable);
        default: return lines::notWin32(name);
    }
}
