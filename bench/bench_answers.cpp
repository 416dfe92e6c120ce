// What the window answers beside the grid, on a large suite: every PE file
// of Wine's x86_64-windows folder (or TAVELIN_BENCH_DIR) listed, "Récursif"
// ticked, analysed once. The tree's roots and the largest node opened, the
// filter of problems, a sort by versions, "Pourquoi ?" and the ship set.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QTabWidget>
#include <QTreeView>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/arbre.h"
#include "app/ownversion.h"
#include "app/umain.h"
#include "components/krvgrid.h"
#include "inspect/refusals.h"
#include "inspect/ship.h"
#include "platform/platform.h"

namespace {

struct Window {
    Window() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", "/nonexistent-tavelin-bench");
        qputenv("WINEPREFIX", "/nonexistent-tavelin-bench");
        static int argc = 1;
        static char name[] = "bench_answers";
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
        w->resize(1400, 800);
        w->show();
        w->PageControl1->setCurrentWidget(w->TSArbre);
    }
    std::unique_ptr<QApplication> app;
    std::unique_ptr<TFMain> w;
};

Window& window() {
    static Window instance;
    return instance;
}

// The tree of every listed file again, each root opened, as a run leaves it.
void BM_FillTree(benchmark::State& state) {
    Window& b = window();
    TArbreModel* m = b.w->ModeleArbre();
    for (auto _ : state) {
        b.w->CBSysteme->setChecked(!b.w->CBSysteme->isChecked());  // rebuilt, roots opened
        QCoreApplication::processEvents();
    }
    state.counters["roots"] = m->rowCount();
}
BENCHMARK(BM_FillTree)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The node with the most imports, opened from scratch.
void BM_OpenLargestNode(benchmark::State& state) {
    Window& b = window();
    b.w->CBSysteme->setChecked(false);
    TArbreModel* m = b.w->ModeleArbre();
    int best = 0;
    QModelIndex largest;
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex root = m->index(r, 0);
        for (int c = 0; c < m->rowCount(root); ++c) {
            const QModelIndex i = m->index(c, 0, root);
            if (m->canFetchMore(i)) m->fetchMore(i);
            if (m->rowCount(i) > best) {
                best = m->rowCount(i);
                largest = QPersistentModelIndex(i);
            }
        }
    }
    const QString name = largest.data().toString();
    for (auto _ : state) {
        state.PauseTiming();
        b.w->CBSysteme->setChecked(true);
        b.w->CBSysteme->setChecked(false);  // a fresh model, nothing opened below the roots
        QModelIndex target;
        for (int r = 0; r < m->rowCount() && !target.isValid(); ++r)
            for (int c = 0; c < m->rowCount(m->index(r, 0)); ++c)
                if (m->index(c, 0, m->index(r, 0)).data().toString() == name) {
                    target = m->index(c, 0, m->index(r, 0));
                    break;
                }
        state.ResumeTiming();
        b.w->TVArbre->expand(target);
        QCoreApplication::processEvents();
    }
    state.counters["children"] = best;
}
BENCHMARK(BM_OpenLargestNode)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_ProblemsOnly(benchmark::State& state) {
    Window& b = window();
    b.w->PageControl1->setCurrentWidget(b.w->TSListe2);
    for (auto _ : state) {
        b.w->CBProblemes->setChecked(!b.w->CBProblemes->isChecked());
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = b.w->SG2->RowCount() - 1;
}
BENCHMARK(BM_ProblemsOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_SortByVersion(benchmark::State& state) {
    Window& b = window();
    bool descending = false;
    for (auto _ : state) {
        b.w->SG2->SortByColumn(3, descending = !descending);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_SortByVersion)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_Pourquoi(benchmark::State& state) {
    Window& b = window();
    for (auto _ : state) b.w->Pourquoi(QStringLiteral("msvcrt.dll"));
}
BENCHMARK(BM_Pourquoi)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_ShipSet(benchmark::State& state) {
    Window& b = window();
    const analysis::IgnoreList none;
    auto* run = const_cast<AnalysisRun*>(b.w->Run());
    for (auto _ : state) benchmark::DoNotOptimize(shipping::shipSet(b.w->Analyse().closures, run->reads(), none));
}
BENCHMARK(BM_ShipSet)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// What "Livrer…" adds to the set: the programs of each refusal.
void BM_Refusals(benchmark::State& state) {
    Window& b = window();
    const analysis::IgnoreList none;
    auto* run = const_cast<AnalysisRun*>(b.w->Run());
    const shipping::ShipSet set = shipping::shipSet(b.w->Analyse().closures, run->reads(), none);
    for (auto _ : state) benchmark::DoNotOptimize(shipping::refusals(set, b.w->Analyse().closures, none));
    state.counters["dlls"] = double(set.dlls.size());
}
BENCHMARK(BM_Refusals)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
