// The window's own work on a large suite: every PE file of Wine's
// x86_64-windows folder (or TAVELIN_BENCH_DIR) listed, "Récursif" ticked.
// Showing "Imports" rebuilds the grid; showing "Mise en forme" formats it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/ownversion.h"
#include "app/umain.h"
#include "components/krvgrid.h"
#include "platform/platform.h"

namespace {

struct Window {
    Window() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", "/nonexistent-tavelin-bench");
        qputenv("WINEPREFIX", "/nonexistent-tavelin-bench");  // no Windows folder of the machine's own
        static int argc = 1;
        static char name[] = "bench_window";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        RegisterOwnVersion();
        w = std::make_unique<TFMain>();
        w->DoCreate();
        w->CBNotSave->setChecked(true);
        const char* env = std::getenv("TAVELIN_BENCH_DIR");
        const std::string dir = env && *env ? env : "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
            const std::string ext = platform::toLower(e.path().extension().string());
            if (e.is_regular_file() && (ext == ".dll" || ext == ".exe" || ext == ".drv" || ext == ".sys"))
                files.push_back(e.path().string());
        }
        std::sort(files.begin(), files.end());
        for (const std::string& f : files) w->LB->addItem(QString::fromStdString(f));
        w->CBRecursif->setChecked(true);
        w->show();
    }
    std::unique_ptr<QApplication> app;
    std::unique_ptr<TFMain> w;
};

Window& window() {
    static Window instance;
    return instance;
}

void BM_ShowImportsRecursive(benchmark::State& state) {
    Window& b = window();
    b.w->PageControl1->setCurrentWidget(b.w->TSListe);
    for (auto _ : state) {
        state.PauseTiming();
        b.w->SetAJour(false);  // a change of the list: the next showing rebuilds
        state.ResumeTiming();
        b.w->PageControl1->setCurrentWidget(b.w->TSListe2);
        state.PauseTiming();
        b.w->PageControl1->setCurrentWidget(b.w->TSListe);
        state.ResumeTiming();
    }
    state.counters["files"] = b.w->LB->count();
    state.counters["rows"] = b.w->SG2->RowCount() - 1;
}
BENCHMARK(BM_ShowImportsRecursive)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_ShowReport(benchmark::State& state) {
    Window& b = window();
    b.w->CBUnique->setChecked(state.range(0) != 0);
    b.w->PageControl1->setCurrentWidget(b.w->TSListe2);  // the analysis is done once, outside the timing
    for (auto _ : state) {
        state.PauseTiming();
        b.w->PageControl1->setCurrentWidget(b.w->TSListe2);
        state.ResumeTiming();
        b.w->PageControl1->setCurrentWidget(b.w->TSTexte);
    }
    state.counters["lines"] = b.w->RE->blockCount();
}
BENCHMARK(BM_ShowReport)->Arg(0)->Arg(1)->ArgName("sans_doublon")->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
