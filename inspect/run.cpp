#include "inspect/run.h"

AnalysisRun::AnalysisRun(RunOptions options)
    : AnalysisRun(std::move(options), [](const RunOptions& o, platform::DllSearch& s) { return std::make_unique<Memo>(o, s); }) {}

AnalysisRun::AnalysisRun(RunOptions options, const ReadsFactory& makeReads)
    : options_(std::move(options)),
      search_(options_.search),
      reads_(makeReads(options_, search_)),
      resolver_(*reads_, search_, options_) {}

AnalysisRun::~AnalysisRun() = default;
