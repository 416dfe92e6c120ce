// One analysis run (one show of "Imports", one command-line call, one
// "Suivre"): its options, its search, what it has read and what the last
// inspection found. Nothing of it outlives the run.
#pragma once

#include <functional>
#include <memory>

#include "inspect/findings.h"
#include "inspect/options.h"
#include "inspect/reads.h"
#include "inspect/resolver.h"
#include "platform/dllsearch.h"

class AnalysisRun {
public:
    explicit AnalysisRun(RunOptions options = {});
    // With other reads than the memo's (tests compare a plain reader's rows).
    using ReadsFactory = std::function<std::unique_ptr<Reads>(const RunOptions&, platform::DllSearch&)>;
    AnalysisRun(RunOptions options, const ReadsFactory& makeReads);
    ~AnalysisRun();
    AnalysisRun(const AnalysisRun&) = delete;
    AnalysisRun& operator=(const AnalysisRun&) = delete;

    const RunOptions& options() const { return options_; }
    platform::DllSearch& search() { return *search_; }
    Reads& reads() { return *reads_; }
    Resolver& resolver() { return resolver_; }

    // What the last PEFile constructed on this run found.
    Inspection& inspection() { return inspection_; }

    // A run beside this one that walks whole closures and reads every
    // imported function, with the same search: what the choice of a
    // program's toolchain variant needs, whatever this run shows.
    AnalysisRun& closureChecks();

private:
    AnalysisRun(RunOptions options, platform::DllSearch& search);

    RunOptions options_;
    std::unique_ptr<platform::DllSearch> ownSearch_;
    platform::DllSearch* search_;
    std::unique_ptr<Reads> reads_;
    Resolver resolver_;
    Inspection inspection_;
    std::unique_ptr<AnalysisRun> checks_;
};
