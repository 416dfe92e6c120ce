// One analysis run (one show of "Imports", one command-line call, one
// "Suivre"): its options, the places it searches, what it has read, the
// loader and what the loader resolved. Nothing of it outlives the run.
#pragma once

#include <functional>
#include <memory>

#include "inspect/links.h"
#include "inspect/loader/loader.h"
#include "inspect/loader/sxs.h"
#include "inspect/options.h"
#include "inspect/reads.h"
#include "platform/searchplaces.h"

class AnalysisRun {
public:
    explicit AnalysisRun(RunOptions options = {});
    // With other reads than the memo's (tests compare a plain reader's rows).
    using ReadsFactory = std::function<std::unique_ptr<Reads>(const pe::ReadConfig&, platform::SearchPlaces&)>;
    AnalysisRun(RunOptions options, const ReadsFactory& makeReads);
    ~AnalysisRun();
    AnalysisRun(const AnalysisRun&) = delete;
    AnalysisRun& operator=(const AnalysisRun&) = delete;

    const RunOptions& options() const { return options_; }
    platform::SearchPlaces& places() { return places_; }
    Reads& reads() { return *reads_; }
    loader::Loader& loader() { return loader_; }
    Linker& linker() { return linker_; }

private:
    RunOptions options_;
    platform::SearchPlaces places_;
    sxs::SxsStore store_;
    std::unique_ptr<Reads> reads_;
    loader::Loader loader_;
    Linker linker_;
};
