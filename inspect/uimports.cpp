#include "inspect/uimports.h"

#include <deque>

#include "platform/platform.h"
#include "platform/text.h"

std::vector<std::string> PEFile::Found;
std::vector<std::string> PEFile::Errors;
bool PEFile::Recursive = false;
bool PEFile::Functions = false;
bool PEFile::DelayLoad = false;
int PEFile::liveObjects_ = 0;
std::unordered_map<std::string, std::size_t> PEFile::foundKeys_;

// ---------------------------------------------------------------------------

PEFile::PEFile(const std::string& name, RunCache* run) : Name(name), run_(run), key_(platform::toLower(name)) {
    // The search is handed the importer's folder, so the process's current
    // directory is never switched: the same result without two chdir calls
    // per image.
    enter();
    try {
        if (!run_) {
            ownRun_ = std::make_unique<RunCache>(true, Checks{Functions, DelayLoad});
            run_ = ownRun_.get();
        }
        edges_.emplace_back();
        read();
        walkClosure();
    } catch (const std::exception&) {
        // Out of memory (or the like) half-way: the file's own line; what was
        // found before stays, as for a bad image.
        Done = false;
        try {
            addLine(Name + " non visionnable", Problem::NotReadable);
        } catch (...) {
        }
    }
    try {
        markDelayLoaded();
    } catch (...) {
        DelayLoaded.assign(Problems.size(), false);
        FoundDelayLoaded.assign(Found.size(), false);
    }
}

PEFile::PEFile(const std::string& name, RunCache* run, PEFile* top, std::string key, std::size_t node)
    : Name(name), run_(run), top_(top), key_(std::move(key)), node_(node) {
    enter();
    read();
}

PEFile::~PEFile() {
    if (--liveObjects_ == 0) {
        Found.clear();
        Errors.clear();
        foundKeys_.clear();
        platform::endSearchScope();
    }
}

void PEFile::enter() {
    if (liveObjects_++ == 0) {
        Found.clear();
        Errors.clear();
        foundKeys_.clear();
        platform::beginSearchScope();
    }
}

void PEFile::addLine(std::string line, Problem kind, bool delayed) {
    Errors.push_back(std::move(line));
    top_->Problems.push_back(kind);
    top_->lineOrigins_.emplace_back(node_, delayed);
}

void PEFile::AddError(const std::string& message) { addLine(Name + " " + message, Problem::NotReadable); }

void PEFile::read() {
    image_ = run_->imports(Name);
    Machine = image_->machine;
    switch (image_->outcome) {
        case ImageImports::Outcome::Read:
        case ImageImports::Outcome::NoImport: Done = true; break;
        case ImageImports::Outcome::WrongFormat: wrongFormat_ = true; break;
        default: {
            Problem kind;
            addLine(imageProblemLine(Name, *image_, kind), kind);
            top_->reported_.insert(key_);
            break;
        }
    }
    // Tables read for the checks that run off the file make a bad image,
    // as any read outside the file does.
    if (image_->tablesDamaged) wrongFormat_ = true;
}

void PEFile::finish() {
    if (wrongFormat_) {
        Done = false;
        addLine(Name + " n'est pas un exécutable Win32", Problem::NotPe);
        top_->reported_.insert(key_);
    }
}

void PEFile::checkFunctions(std::size_t i) {
    if (!run_->checks().functions) return;
    if (!checked_) checked_ = run_->checkFunctions(Name, *image_, *resolved_);
    const RunCache::FunctionCheck& check = (*checked_)[i];
    const bool delayed = i >= image_->names.size();
    if (!check.dllLine.empty()) {
        // The DLL's own line stands for its functions, once in the closure.
        if (top_->reported_.insert((*resolved_)[i].key).second) addLine(check.dllLine, check.dllProblem, delayed);
        return;
    }
    for (const std::string& line : check.lines) addLine(line, Problem::MissingFunction, delayed);
}

void PEFile::walkClosure() {
    // The closure is walked with an explicit stack rather than nested
    // constructors, so a long chain of DLLs never exhausts the call stack.
    std::vector<std::unique_ptr<PEFile>> stack;
    const bool delayLoad = run_->checks().delayLoad;
    PEFile* current = this;
    for (;;) {
        bool descended = false;
        if (current->pending_ != kNone) {
            current->checkFunctions(current->pending_);
            current->pending_ = kNone;
        }
        const std::vector<DllName>& names = current->image_->names;
        const std::size_t total = names.size() + (delayLoad ? current->image_->delayNames.size() : 0);
        while (current->next_ < total) {
            const std::size_t i = current->next_++;
            const bool delayed = i >= names.size();
            const DllName& dll = delayed ? current->image_->delayNames[i - names.size()] : names[i];
            if (!current->resolved_) current->resolved_ = run_->resolveAll(current->Name, current->Machine, *current->image_);
            const RunCache::Resolution& r = (*current->resolved_)[i];
            if (!r.found) {
                std::string line = dll.text + " invisible pour " + current->Name;
                if (!r.otherPath.empty())
                    line += " (seule existe " + r.otherPath + ", " + platform::machineName(r.otherMachine) + ")";
                if (delayed) line += " (chargement différé)";
                current->addLine(std::move(line), r.otherPath.empty() ? Problem::MissingDll : Problem::WrongMachine,
                                 delayed);
                continue;
            }
            const auto [at, added] = foundKeys_.emplace(r.key, Found.size());
            if (!delayed) edges_[current->node_].push_back(at->second + 1);
            if (!added) {
                current->checkFunctions(i);
                continue;
            }
            Found.push_back(r.path);
            edges_.emplace_back();
            if (Recursive) {
                current->pending_ = i;
                stack.push_back(std::unique_ptr<PEFile>(new PEFile(r.path, run_, this, r.key, Found.size())));
                current = stack.back().get();
                descended = true;
                break;
            }
            current->checkFunctions(i);
        }
        if (descended) continue;
        current->finish();
        if (stack.empty()) break;
        stack.pop_back();
        current = stack.empty() ? this : stack.back().get();
    }
}

void PEFile::markDelayLoaded() {
    // What the program loads when it starts: the images reached from it
    // through import tables alone.
    const bool delayLoad = run_ && run_->checks().delayLoad;
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
    FoundDelayLoaded.assign(Found.size(), false);
    for (std::size_t k = 0; k < Found.size(); ++k) FoundDelayLoaded[k] = loadsLate(k + 1);
    DelayLoaded.assign(Problems.size(), false);
    for (std::size_t j = 0; j < lineOrigins_.size() && j < DelayLoaded.size(); ++j)
        DelayLoaded[j] = lineOrigins_[j].second || loadsLate(lineOrigins_[j].first);
}
