// The grid with a large suite's analysis: 20,000 rows of four columns.
// Fill, title-click sort and a full read should each stay well under 0.2 s.
#include "krvgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int kRows = 20000;

std::vector<QStringList> analysisRows() {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(0, 999);
    std::vector<QStringList> rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i)
        rows.push_back({QString("C:\\Suite\\Appli%1.exe").arg(pick(rng) % 50), QString("Lib%1.DLL").arg(pick(rng)),
                        QString("C:\\Windows\\System32\\sous%1").arg(pick(rng) % 7),
                        QString("V %1.%2.0.%3").arg(pick(rng) % 9).arg(pick(rng) % 20).arg(pick(rng))});
    return rows;
}

void prepare(TKRVGrid& g) {
    g.SetFixedCols(0);
    g.Clear(4, 2);
    g.SetRows(0, {"Importateur", "Fichier", "Chemin", "Version"});
    g.resize(600, 400);
    g.show();
}

// Cell by cell, as the analysis run writes its rows.
void BM_FillCellByCell(benchmark::State& state) {
    const auto rows = analysisRows();
    TKRVGrid g;
    prepare(g);
    for (auto _ : state) {
        g.Clear(4, 2);
        g.SetRowCount(kRows + 1);
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < 4; ++c)
                g.SetCells(c, r + 1, rows[std::size_t(r)][c]);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_FillCellByCell)->Unit(benchmark::kMillisecond);

void BM_FillBulk(benchmark::State& state) {
    const auto rows = analysisRows();
    TKRVGrid g;
    prepare(g);
    for (auto _ : state) {
        g.Clear(4, 2);
        g.SetDataRows(rows);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_FillBulk)->Unit(benchmark::kMillisecond);

// A real press on a column title, on freshly unsorted rows each time.
void BM_TitleClickSort(benchmark::State& state) {
    const auto rows = analysisRows();
    TKRVGrid g;
    prepare(g);
    QHeaderView* h = g.horizontalHeader();
    for (auto _ : state) {
        state.PauseTiming();
        g.SetDataRows(rows);
        QCoreApplication::processEvents();
        const QPointF p(h->sectionViewportPosition(1) + 10, h->viewport()->height() / 2);
        state.ResumeTiming();
        QMouseEvent press(QEvent::MouseButtonPress, p, h->viewport()->mapToGlobal(p), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(h->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, p, h->viewport()->mapToGlobal(p), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(h->viewport(), &release);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_TitleClickSort)->Unit(benchmark::kMillisecond);

// Every cell of every data row, as the report reads them.
void BM_ReadAllCells(benchmark::State& state) {
    TKRVGrid g;
    prepare(g);
    g.SetDataRows(analysisRows());
    for (auto _ : state) {
        qsizetype total = 0;
        for (int r = 1; r < g.RowCount(); ++r)
            for (int c = 0; c < 4; ++c)
                total += g.Cells(c, r).size();
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ReadAllCells)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
