#include "inspect/run.h"

#include "platform/platform.h"

namespace {
std::unique_ptr<Reads> memo(const pe::ReadConfig& c, platform::SearchPlaces& p) { return std::make_unique<Memo>(c, p); }
}  // namespace

AnalysisRun::AnalysisRun(RunOptions options) : AnalysisRun(std::move(options), memo) {}

AnalysisRun::AnalysisRun(RunOptions options, const ReadsFactory& makeReads)
    : options_(std::move(options)),
      places_(options_.search),
      store_(places_.windowsFolder(), places_.files()),
      reads_(makeReads(options_.readConfig(), places_)),
      loader_(places_, store_, *reads_),
      linker_(loader_, *reads_, options_) {
    const platform::SearchPlaces::Machine& x86 = places_.forMachine(platform::kMachineI386);
    if (!places_.windowsFolder().empty() && x86.builtin) store_.setStandIn32(x86.systemFolder);
}

AnalysisRun::~AnalysisRun() = default;
