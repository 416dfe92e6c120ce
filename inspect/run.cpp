#include "inspect/run.h"

namespace {
std::unique_ptr<Reads> memo(const RunOptions& o, platform::DllSearch& s) { return std::make_unique<Memo>(o, s); }
}  // namespace

AnalysisRun::AnalysisRun(RunOptions options) : AnalysisRun(std::move(options), memo) {}

AnalysisRun::AnalysisRun(RunOptions options, const ReadsFactory& makeReads)
    : options_(std::move(options)),
      ownSearch_(std::make_unique<platform::DllSearch>(options_.search)),
      search_(ownSearch_.get()),
      reads_(makeReads(options_, *search_)),
      resolver_(*reads_, *search_, options_) {}

AnalysisRun::AnalysisRun(RunOptions options, platform::DllSearch& search)
    : options_(std::move(options)), search_(&search), reads_(memo(options_, search)), resolver_(*reads_, search, options_) {}

AnalysisRun::~AnalysisRun() = default;

AnalysisRun& AnalysisRun::closureChecks() {
    if (!checks_) {
        RunOptions o = options_;
        o.recursive = o.functions = true;
        checks_.reset(new AnalysisRun(std::move(o), *search_));
    }
    return *checks_;
}
