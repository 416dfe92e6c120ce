// The window with a large list of its own: closing it with 10,000 listed
// files over a store that already holds 10,000 (every value deleted and
// written again, then the "Params"), and a dropped folder of 5,000 PE files.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/ownversion.h"
#include "app/umain.h"
#include "platform/settings.h"

namespace {

namespace fs = std::filesystem;

struct Bench {
    Bench() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(root.string()));
        static int argc = 1;
        static char name[] = "bench_desktop";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        RegisterOwnVersion();
    }
    ~Bench() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    const fs::path root = fs::temp_directory_path() / ("tavelin-bench-" + std::to_string(::getpid()));
    std::unique_ptr<QApplication> app;
};

Bench& bench() {
    static Bench instance;
    return instance;
}

void BM_CloseWithListedFiles(benchmark::State& state) {
    bench();
    const int files = static_cast<int>(state.range(0));
    TFMain w;
    w.DoCreate();
    w.LB->clear();
    for (int i = 0; i < files; ++i)
        w.LB->addItem(QStringLiteral("/opt/suite/programmes/module-%1/bibliotheque-%1.dll").arg(i));
    w.FormClose();  // the store holds as many as it will replace
    for (auto _ : state) w.FormClose();
    platform::Settings reg;
    reg.OpenKey(TFMain::Cle, false);
    state.counters["stored"] = static_cast<double>(reg.GetValueNames().size());
}
BENCHMARK(BM_CloseWithListedFiles)->Arg(10000)->ArgName("files")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DropFolder(benchmark::State& state) {
    const fs::path folder = bench().root / "dossier";
    fs::create_directories(folder);
    const int files = static_cast<int>(state.range(0));
    for (int i = 0; i < files; ++i) std::ofstream(folder / ("f" + std::to_string(i) + (i % 2 ? ".DLL" : ".exe")));
    std::ofstream(folder / "lisez-moi.txt");
    TFMain w;
    w.DoCreate();
    w.LB->clear();
    w.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string()))});
    const QPoint at = w.LB->viewport()->rect().center();
    for (auto _ : state) {
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.LB->viewport(), &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.LB->viewport(), &drop);
        state.PauseTiming();
        state.counters["listed"] = w.LB->count();
        w.LB->clear();
        state.ResumeTiming();
    }
    state.counters["files"] = files;
}
BENCHMARK(BM_DropFolder)->Arg(5000)->ArgName("files")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
