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
    platform::DllSearch& search() { return search_; }
    Reads& reads() { return *reads_; }
    Resolver& resolver() { return resolver_; }

    // What the last PEFile constructed on this run found.
    Inspection& inspection() { return inspection_; }

private:
    RunOptions options_;
    platform::DllSearch search_;
    std::unique_ptr<Reads> reads_;
    Resolver resolver_;
    Inspection inspection_;
};
