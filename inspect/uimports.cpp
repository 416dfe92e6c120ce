#include "inspect/uimports.h"

#include "inspect/closure.h"
#include "inspect/run.h"

std::vector<std::string> PEFile::Found;
std::vector<std::string> PEFile::Errors;
bool PEFile::Recursive = false;
int PEFile::liveObjects_ = 0;

PEFile::PEFile(const std::string& name) : Name(name) {
    if (liveObjects_++ == 0) {
        Found.clear();
        Errors.clear();
    }
    RunOptions options;
    options.recursive = Recursive;
    AnalysisRun run(std::move(options));
    // Alive at the same time as another PEFile: what it found is shared.
    Closure c = walkClosure(Name, run, liveObjects_ > 1 ? &Found : nullptr);
    Done = c.done;
    Machine = c.machine;
    for (const FoundDll& f : c.found) Found.push_back(f.path());
    for (Finding& f : c.findings) Errors.push_back(std::move(f.line));
}

PEFile::~PEFile() {
    if (--liveObjects_ == 0) {
        Found.clear();
        Errors.clear();
    }
}

void PEFile::AddError(const std::string& message) { Errors.push_back(Name + " " + message); }
