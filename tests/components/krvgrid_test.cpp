#include "krvgrid.h"

#include "platform/platform.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Table = std::vector<QStringList>;

// A grid as the host uses it: four columns, one title row, no fixed column,
// data rows `rows`.
std::unique_ptr<TKRVGrid> makeGrid(const Table& rows, int fixedCols = 0) {
    auto g = std::make_unique<TKRVGrid>();
    g->SetFixedCols(fixedCols);
    g->Clear(4, 2);
    g->SetRows(0, {"Importateur", "Fichier", "Chemin", "Version"});
    g->SetDataRows(rows);
    g->resize(500, 400);
    g->show();
    QCoreApplication::processEvents();
    return g;
}

Table dataOf(const TKRVGrid& g) {
    Table t;
    for (int r = g.FixedRows(); r < g.RowCount(); ++r)
        t.push_back(g.Rows(r));
    return t;
}

QStringList row(const QString& a, const QString& b = {}, const QString& c = {}, const QString& d = {}) {
    return {a, b, c, d};
}

void clickHeader(TKRVGrid& g, int col, Qt::MouseButton button = Qt::LeftButton) {
    QHeaderView* h = g.horizontalHeader();
    const QPoint p(h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->viewport()->height() / 2);
    QTest::mouseClick(h->viewport(), button, {}, p);
}

QPoint cellPos(const TKRVGrid& g, int col, int r) {
    return g.visualRect(g.model()->index(r - g.FixedRows(), col)).center();
}

}  // namespace

// --- row operations -----------------------------------------------------------

TEST(KRVGridRows, ClearKeepsTitlesAndLeavesOneBlankDataRow) {
    auto g = makeGrid({row("a", "b"), row("c", "d"), row("e")});
    g->Empty = false;
    g->Clear(4, 2);
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->ColCount(), 4);
    EXPECT_EQ(g->Rows(0), QStringList({"Importateur", "Fichier", "Chemin", "Version"}));
    EXPECT_EQ(g->Rows(1), row({}));
    EXPECT_TRUE(g->Empty);
    EXPECT_EQ(g->horizontalHeader()->model()->headerData(1, Qt::Horizontal).toString(), "Fichier");
}

TEST(KRVGridRows, DeleteRowBlanksTheOnlyDataRowOrRemovesOne) {
    auto g = makeGrid({row("P"), row("Q"), row("R")});
    g->Empty = false;
    g->DeleteRow(2);
    EXPECT_EQ(dataOf(*g), Table({row("P"), row("R")}));
    EXPECT_FALSE(g->Empty);
    g->DeleteRow(1);
    g->DeleteRow(1);
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(dataOf(*g), Table({row({})}));
    EXPECT_TRUE(g->Empty);
    EXPECT_EQ(g->Cells(0, 0), "Importateur");
}

TEST(KRVGridRows, InsertMoveExchangeShiftTextsByIndex) {
    auto g = makeGrid({row("P"), row("Q"), row("R")});
    g->InsertRow(2);
    EXPECT_EQ(dataOf(*g), Table({row("P"), row({}), row("Q"), row("R")}));
    g->InsertRow(g->RowCount());  // appending is allowed
    EXPECT_EQ(g->RowCount(), 6);

    auto m = makeGrid({row("A"), row("B"), row("C"), row("D")});
    m->MoveRow(2, 2);
    EXPECT_EQ(dataOf(*m), Table({row("A"), row("B"), row("C"), row("D")}));
    m->MoveRow(4, 1);
    EXPECT_EQ(dataOf(*m), Table({row("D"), row("A"), row("B"), row("C")}));
    m->MoveRow(1, 3);
    EXPECT_EQ(dataOf(*m), Table({row("A"), row("B"), row("D"), row("C")}));
    m->ExchangeRows(1, 4);
    EXPECT_EQ(dataOf(*m), Table({row("C"), row("B"), row("D"), row("A")}));
    m->ExchangeRows(2, 2);
    EXPECT_EQ(dataOf(*m), Table({row("C"), row("B"), row("D"), row("A")}));
    m->CopyRow(1, 2);
    m->ClearRow(3);
    EXPECT_EQ(dataOf(*m), Table({row("C"), row("C"), row({}), row("A")}));
}

TEST(KRVGridRows, OutOfRangeIndicesRaiseAndChangeNothing) {
    auto g = makeGrid({row("P", "1"), row("Q", "2")});
    const Table before = dataOf(*g);
    const int rows = g->RowCount();
    for (int bad : {0, -1, rows}) {
        try {
            g->ExchangeRows(1, bad);
            FAIL() << "no error for " << bad;
        } catch (const EListError& e) {
            EXPECT_STREQ(e.what(), "Index hors limites");
        }
        EXPECT_THROW(g->ExchangeRows(bad, 2), EListError);
    }
    EXPECT_THROW(g->CopyRow(1, rows), EListError);
    EXPECT_THROW(g->CopyRow(-1, 1), EListError);
    EXPECT_THROW(g->ClearRow(rows), EListError);
    EXPECT_THROW(g->InsertRow(rows + 1), EListError);
    EXPECT_THROW(g->InsertRow(-1), EListError);
    EXPECT_THROW(g->DeleteRow(rows), EListError);
    EXPECT_THROW(g->MoveRow(1, rows), EListError);
    EXPECT_THROW(g->MoveRow(-5, 1), EListError);
    EXPECT_THROW(g->SetCells(4, 1, "x"), EListError);
    EXPECT_THROW(g->SetRow(rows), EListError);
    EXPECT_EQ(g->RowCount(), rows);
    EXPECT_EQ(dataOf(*g), before);
    EXPECT_EQ(g->Cells(0, 0), "Importateur");
    EXPECT_EQ(g->Cells(9, 99), "");
}

TEST(KRVGridRows, CountsStayConsistentWithFixedRowsAndColumns) {
    TKRVGrid g;
    EXPECT_EQ(g.ColCount(), 5);
    EXPECT_EQ(g.RowCount(), 5);
    EXPECT_EQ(g.FixedRows(), 1);
    EXPECT_EQ(g.FixedCols(), 1);
    g.SetRowCount(0);  // never below one row, fixed rows kept below the total
    EXPECT_EQ(g.RowCount(), 1);
    EXPECT_EQ(g.FixedRows(), 0);
    EXPECT_TRUE(g.horizontalHeader()->isHidden());
    g.SetRowCount(3);
    g.SetFixedRows(2);
    g.SetCells(1, 0, "haut");
    g.SetCells(1, 1, "bas");
    EXPECT_EQ(g.model()->rowCount(), 1);
    EXPECT_EQ(g.model()->headerData(1, Qt::Horizontal).toString(), "haut\nbas");
    g.SetFixedRows(7);
    EXPECT_EQ(g.FixedRows(), 2);
}

// --- current cell, cell lookup, mouse-down hook -------------------------------

TEST(KRVGridCells, CurrentCellAndMouseToCellUseGridIndices) {
    auto g = makeGrid({row("a", "b", "c", "d"), row("e", "f", "g", "h")});
    g->SetRowSelect(true);
    g->SetCol(2);
    g->SetRow(2);
    EXPECT_EQ(g->GetCell(), "g");
    g->SetCell("G");
    EXPECT_EQ(g->Cells(2, 2), "G");
    EXPECT_EQ(g->currentIndex().row(), 1);

    int c, r;
    const QPoint inCell = g->viewport()->mapTo(g.get(), cellPos(*g, 1, 2));
    g->MouseToCell(inCell.x(), inCell.y(), c, r);
    EXPECT_EQ(c, 1);
    EXPECT_EQ(r, 2);
    QHeaderView* h = g->horizontalHeader();
    const QPoint inTitle = h->viewport()->mapTo(g.get(), QPoint(h->sectionViewportPosition(3) + 3, 2));
    g->MouseToCell(inTitle.x(), inTitle.y(), c, r);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(r, 0);
    const QPoint below = g->viewport()->mapTo(g.get(), QPoint(5, g->viewport()->height() - 2));
    g->MouseToCell(below.x(), below.y(), c, r);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(r, -1);
    g->MouseToCell(-50, -50, c, r);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(r, -1);

    g->SetRow(0);  // the host may make the title row current
    EXPECT_EQ(g->Row(), 0);
    EXPECT_FALSE(g->currentIndex().isValid());
}

TEST(KRVGridCells, MouseDownFiresAfterTheCurrentCellFollowsTheClick) {
    auto g = makeGrid({row("a"), row("b"), row("c")});
    int rowSeen = -1;
    QObject::connect(g.get(), &TKRVGrid::MouseDown, [&](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
        int c, r;
        g->MouseToCell(x, y, c, r);
        EXPECT_EQ(b, Qt::LeftButton);
        EXPECT_EQ(r, 3);
        rowSeen = g->Row();
    });
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 0, 3));
    EXPECT_EQ(rowSeen, 3);
}

TEST(KRVGridCells, RowHandlesMoveTextsAndKeysReachTheHost) {
    auto g = makeGrid({row("a"), row("b"), row("c")});
    g->SetRowMoving(true);
    g->verticalHeader()->moveSection(2, 0);
    EXPECT_EQ(dataOf(*g), Table({row("c"), row("a"), row("b")}));
    EXPECT_EQ(g->verticalHeader()->visualIndex(2), 2);  // positions keep their meaning

    QString typed;
    g->OnKeyPress = [&](TKRVGrid*, QChar& key) {
        typed += key;
        if (key == QLatin1Char('s'))
            key = QChar();  // handled: the grid does not see it
    };
    g->SetRow(1);
    QTest::keyClick(g.get(), Qt::Key_Down);
    QTest::keyClick(g.get(), 's');
    EXPECT_EQ(typed, "s");
    EXPECT_EQ(g->Row(), 2);
}

// --- header-click sorting -------------------------------------------------------

TEST(KRVGridSort, HeaderClickSortsAscendingStableIgnoringCase) {
    auto g = makeGrid({row("9", "b"), row("ABC", "1"), row("10", "é"), row("abc", "2"), row("", "É"), row("Émile"),
                       row("emile")});
    g->SetCol(1);
    g->SetRow(4);
    clickHeader(*g, 0);
    EXPECT_EQ(dataOf(*g), Table({row("", "É"), row("10", "é"), row("9", "b"), row("ABC", "1"), row("abc", "2"),
                                 row("emile"), row("Émile")}));
    EXPECT_EQ(g->Col(), 1);  // the current cell keeps its indices
    EXPECT_EQ(g->Row(), 4);

    // Accented capitals lower like their small letters: é and É are equal.
    clickHeader(*g, 1);
    const Table once = dataOf(*g);
    EXPECT_EQ(once[5][1], "É");  // equal keys keep their order
    EXPECT_EQ(once[6][1], "é");
    clickHeader(*g, 1);
    EXPECT_EQ(dataOf(*g), once);
}

TEST(KRVGridSort, OnlyATitleClickWithSortingOnSorts) {
    const Table rows = {row("b"), row("a")};
    auto g = makeGrid(rows);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 0, 1));
    EXPECT_EQ(dataOf(*g), rows);
    g->HeadClickSort = false;
    clickHeader(*g, 0);
    EXPECT_EQ(dataOf(*g), rows);

    // Any button sorts, and the host's mouse-down hook sees the sorted rows.
    g->HeadClickSort = true;
    QString firstSeen;
    QObject::connect(g.get(), &TKRVGrid::MouseDown, [&] { firstSeen = g->Cells(0, 1); });
    clickHeader(*g, 0, Qt::RightButton);
    EXPECT_EQ(firstSeen, "a");

    auto noTitle = makeGrid(rows);
    noTitle->SetFixedRows(0);
    QTest::mouseClick(noTitle->viewport(), Qt::LeftButton, {}, cellPos(*noTitle, 0, 0));
    EXPECT_EQ(noTitle->Cells(0, 0), "Importateur");

    auto fixedCol = makeGrid(rows, 1);  // titles of fixed columns do not sort
    clickHeader(*fixedCol, 0);
    EXPECT_EQ(dataOf(*fixedCol), rows);
}

// The literal insertion sort, through the grid's own row moves.
void insertionSort(TKRVGrid& g, int col) {
    const auto key = [&](int r) { return platform::toLower(g.Cells(col, r).toStdString()); };
    for (int i = g.FixedRows() + 1; i < g.RowCount(); ++i) {
        int j = i;
        const std::string ki = key(i);
        while (j > g.FixedRows() && ki < key(j - 1))
            --j;
        if (j != i)
            g.MoveRow(i, j);
    }
}

TEST(KRVGridSort, FastSortGivesTheInsertionSortsExactOrder) {
    const QStringList words = {"", "a", "A", "ab", "Ab", "b", "é", "É", "e", "10", "9", "z", "Zoé", "zoe", "ä"};
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        const int n = std::uniform_int_distribution<int>(0, 40)(rng);
        Table rows;
        for (int i = 0; i < n; ++i) {
            QStringList r;
            for (int c = 0; c < 3; ++c)
                r << words[std::uniform_int_distribution<int>(0, int(words.size()) - 1)(rng)];
            r << QString::number(i);  // identity, to see stability
            rows.push_back(r);
        }
        const int col = std::uniform_int_distribution<int>(0, 2)(rng);
        auto fast = makeGrid(rows);
        auto slow = makeGrid(rows);
        fast->SortByColumn(col);
        insertionSort(*slow, col);
        ASSERT_EQ(dataOf(*fast), dataOf(*slow)) << "round " << round << " column " << col;
    }
}

// --- drag and drop ---------------------------------------------------------------

namespace {

struct DragResult {
    bool enterAccepted = false;
    bool moveAccepted = false;
};

// A drag that enters over (c0, r0), moves to (c1, r1) and drops there.
DragResult dragCell(TKRVGrid& g, int c0, int r0, int c1, int r1, Qt::KeyboardModifiers mods) {
    const std::unique_ptr<QMimeData> data(g.CellMimeData());
    const QMimeData& mime = *data;
    const auto actions = Qt::CopyAction | Qt::MoveAction;
    DragResult res;
    QDragEnterEvent enter(cellPos(g, c0, r0), actions, &mime, Qt::LeftButton, mods);
    QApplication::sendEvent(g.viewport(), &enter);
    res.enterAccepted = enter.isAccepted();
    if (!res.enterAccepted)
        return res;
    QDragMoveEvent move(cellPos(g, c1, r1), actions, &mime, Qt::LeftButton, mods);
    QApplication::sendEvent(g.viewport(), &move);
    res.moveAccepted = move.isAccepted();
    QDropEvent drop(cellPos(g, c1, r1), actions, &mime, Qt::LeftButton, mods);
    QApplication::sendEvent(g.viewport(), &drop);
    return res;
}

struct Dropped {
    int calls = 0;
    int srcCol = -1, srcRow = -1, dstCol = -1, dstRow = -1;
    QString srcText, dstText;
    bool deleteSrc = false;
};

void record(TKRVGrid& g, Dropped& d) {
    QObject::connect(&g, &TKRVGrid::OnCellDropped,
                     [&d](int sc, int sr, int dc, int dr, const QString& st, const QString& dt, bool del) {
                         d = {d.calls + 1, sc, sr, dc, dr, st, dt, del};
                     });
}

}  // namespace

TEST(KRVGridDrag, DeadKeyChoosesBetweenCopyAndMove) {
    struct Case {
        TtmAction action;
        TDeadKey key;
        Qt::KeyboardModifiers mods;
        bool moves;
    };
    const Case cases[] = {
        {tmDeplace, ttmCtrl, Qt::NoModifier, false},    {tmDeplace, ttmCtrl, Qt::ControlModifier, true},
        {tmCopie, ttmCtrl, Qt::NoModifier, true},       {tmCopie, ttmCtrl, Qt::ControlModifier, false},
        {tmDeplace, ttmShift, Qt::ControlModifier, false}, {tmDeplace, ttmShift, Qt::ShiftModifier, true},
    };
    for (const Case& k : cases) {
        auto g = makeGrid({row("src", "x"), row("y", "dst")});
        g->DeadKeyAction = k.action;
        g->SetDeadKey(k.key);
        EXPECT_EQ(g->DeadKeyCode(), k.key == ttmShift ? 16 : 17);
        Dropped d;
        record(*g, d);
        g->SetCol(0);
        g->SetRow(1);
        const DragResult res = dragCell(*g, 0, 1, 1, 2, k.mods);
        EXPECT_TRUE(res.enterAccepted);
        EXPECT_TRUE(res.moveAccepted);
        EXPECT_EQ(g->Cells(1, 2), "src");
        EXPECT_EQ(g->Cells(0, 1), k.moves ? "" : "src");
        EXPECT_EQ(g->Col(), 1);
        EXPECT_EQ(g->Row(), 2);
        ASSERT_EQ(d.calls, 1);
        EXPECT_EQ(d.srcCol, 0);
        EXPECT_EQ(d.srcRow, 1);
        EXPECT_EQ(d.dstCol, 1);
        EXPECT_EQ(d.dstRow, 2);
        EXPECT_EQ(d.srcText, "src");
        EXPECT_EQ(d.dstText, "dst");
        EXPECT_EQ(d.deleteSrc, k.moves);
    }
}

TEST(KRVGridDrag, MoveOntoTheSourceCellKeepsTheText) {
    auto g = makeGrid({row("src")});
    Dropped d;
    record(*g, d);
    g->SetCol(0);
    g->SetRow(1);
    dragCell(*g, 0, 1, 0, 1, Qt::ControlModifier);
    EXPECT_EQ(g->Cells(0, 1), "src");
    ASSERT_EQ(d.calls, 1);
    EXPECT_FALSE(d.deleteSrc);
}

TEST(KRVGridDrag, RefusedDragsWriteNothing) {
    // Entering over another cell than the current one: refused throughout.
    auto g = makeGrid({row("src", "x"), row("y", "dst")});
    Dropped d;
    record(*g, d);
    g->SetCol(0);
    g->SetRow(1);
    EXPECT_FALSE(dragCell(*g, 1, 1, 1, 2, {}).enterAccepted);
    // Even when a later drag over the grid reaches the same cell afresh.
    QMimeData mime;
    mime.setData(TKRVGrid::CellMimeType(), "src");
    QDragMoveEvent move(cellPos(*g, 1, 2), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &move);
    EXPECT_FALSE(move.isAccepted());
    EXPECT_EQ(g->Cells(1, 2), "dst");

    // The host refuses the target: nothing written, the current cell moves,
    // no dropped event.
    int asked = 0;
    g->OnDropOnCell = [&](TKRVGrid*, int c, int r, bool& accept) {
        ++asked;
        accept = !(c == 1 && r == 2);
    };
    const DragResult res = dragCell(*g, 0, 1, 1, 2, {});
    EXPECT_TRUE(res.enterAccepted);
    EXPECT_FALSE(res.moveAccepted);
    EXPECT_GT(asked, 0);
    EXPECT_EQ(g->Cells(1, 2), "dst");
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->Row(), 2);
    EXPECT_EQ(d.calls, 0);

    // A drop on a fixed cell writes nothing, keeps the current cell and asks
    // nobody.
    auto f = makeGrid({row("fixe", "src"), row("fixe", "dst")}, 1);
    Dropped fd;
    record(*f, fd);
    f->OnDropOnCell = [](TKRVGrid*, int c, int, bool&) { EXPECT_GE(c, 1); };
    f->SetCol(1);
    f->SetRow(1);
    dragCell(*f, 1, 1, 0, 2, {});
    EXPECT_EQ(f->Cells(0, 2), "fixe");
    EXPECT_EQ(f->Col(), 1);
    EXPECT_EQ(f->Row(), 1);
    EXPECT_EQ(fd.calls, 0);

    // Drags that are not a grid cell's are not answered.
    QMimeData text;
    text.setText("du texte");
    QDragEnterEvent foreign(cellPos(*f, 1, 1), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(f->viewport(), &foreign);
    EXPECT_FALSE(foreign.isAccepted());
}

TEST(KRVGridDrag, CancelledDragDropsNothing) {
    auto g = makeGrid({row("src", "x"), row("y", "dst")});
    g->SetCol(0);
    g->SetRow(1);
    const std::unique_ptr<QMimeData> data(g->CellMimeData());
    const QMimeData& mime = *data;
    QDragEnterEvent enter(cellPos(*g, 0, 1), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(g->viewport(), &leave);
    QDropEvent drop(cellPos(*g, 1, 2), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &drop);
    EXPECT_EQ(g->Cells(1, 2), "dst");
}

// --- bulk fill ----------------------------------------------------------------------

TEST(KRVGridBulk, SetDataRowsReplacesDataAndKeepsColumnWidths) {
    auto g = makeGrid({row("a")});
    g->SetColWidths(2, 123);
    Table rows;
    for (int i = 0; i < 1000; ++i)
        rows.push_back(row(QString::number(i), "f", "c", "v"));
    g->SetDataRows(rows);
    EXPECT_EQ(g->RowCount(), 1001);
    EXPECT_EQ(g->Cells(0, 1000), "999");
    EXPECT_EQ(g->model()->rowCount(), 1000);
    EXPECT_EQ(g->ColWidths(2), 123);
    g->SetDataRows({});
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->Rows(1), row({}));
    EXPECT_EQ(g->Cells(0, 0), "Importateur");
}

// --- the current cell follows clicks and keys only where it may -----------------------

TEST(KRVGridCurrent, ClicksAndKeysAskSelectCellAndNeverStopOnAFixedCell) {
    auto g = makeGrid({row("fixe", "a", "b", "c"), row("fixe", "d", "e", "f")}, 1);
    g->setFocus();
    g->SetCol(1);
    g->SetRow(1);
    int downs = 0;
    QObject::connect(g.get(), &TKRVGrid::MouseDown, [&] { ++downs; });
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 0, 2));
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(downs, 1);  // the host still hears the press
    for (Qt::Key k : {Qt::Key_Left, Qt::Key_Home}) {
        QTest::keyClick(g.get(), k);
        EXPECT_EQ(g->Col(), 1) << k;
    }

    QStringList asked;
    g->OnSelectCell = [&](TKRVGrid*, int c, int r, bool& can) {
        asked << QStringLiteral("%1,%2").arg(c).arg(r);
        can = !(c == 2 && r == 2);
    };
    g->SetCol(2);
    QTest::keyClick(g.get(), Qt::Key_Down);
    EXPECT_EQ(g->Row(), 1);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 2, 2));
    EXPECT_EQ(g->Row(), 1);
    QTest::keyClick(g.get(), Qt::Key_Right);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 1, 2));
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->Row(), 2);
    EXPECT_EQ(asked, QStringList({"2,2", "2,2", "3,1", "1,2"}));
}

TEST(KRVGridCurrent, SecondPressOfADoubleClickIsAMouseDown) {
    auto g = makeGrid({row("b"), row("a")});
    int downs = 0;
    QObject::connect(g.get(), &TKRVGrid::MouseDown, [&] { ++downs; });
    // What the system sends: press, release, then a double-click event.
    QHeaderView* h = g->horizontalHeader();
    const QPoint title(h->sectionSize(0) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, title);
    QTest::mouseDClick(h->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(downs, 2);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 1, 2));
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, cellPos(*g, 1, 2));
    EXPECT_EQ(downs, 4);
}

TEST(KRVGridDrag, RefusedDropStillMovesTheCurrentCellAndForeignDragsAreIgnored) {
    auto g = makeGrid({row("src", "x"), row("y", "dst")});
    Dropped d;
    record(*g, d);
    g->OnDropOnCell = [](TKRVGrid*, int c, int r, bool& accept) { accept = !(c == 1 && r == 2); };
    g->SetCol(0);
    g->SetRow(1);
    // As Qt ends a drag released over a cell that refused it: a leave, no drop.
    const std::unique_ptr<QMimeData> mime(g->CellMimeData());
    QDragEnterEvent enter(cellPos(*g, 0, 1), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(cellPos(*g, 1, 2), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &move);
    EXPECT_FALSE(move.isAccepted());
    QCursor::setPos(g->viewport()->mapToGlobal(cellPos(*g, 1, 2)));
    QDragLeaveEvent leave;
    QApplication::sendEvent(g->viewport(), &leave);
    EXPECT_EQ(g->Col(), 1);
    EXPECT_EQ(g->Row(), 2);
    EXPECT_EQ(g->Cells(1, 2), "dst");
    EXPECT_EQ(d.calls, 0);

    // A cell dragged from another grid is not answered, nor dropped.
    auto other = makeGrid({row("autre")});
    other->SetCol(0);
    other->SetRow(1);
    g->OnDropOnCell = nullptr;
    g->SetCol(0);
    g->SetRow(1);
    const std::unique_ptr<QMimeData> foreign(other->CellMimeData());
    QDragEnterEvent foreignEnter(cellPos(*g, 0, 1), Qt::CopyAction, foreign.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &foreignEnter);
    EXPECT_FALSE(foreignEnter.isAccepted());
    QDropEvent foreignDrop(cellPos(*g, 1, 2), Qt::CopyAction, foreign.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g->viewport(), &foreignDrop);
    EXPECT_EQ(g->Cells(1, 2), "dst");
    EXPECT_EQ(g->Row(), 1);
    EXPECT_EQ(d.calls, 0);
}

// --- roles beside the texts, tool tips, the stretching column ---------------------------

namespace {

QColor colourOf(const TKRVGrid& g, int row, int col = 0) {
    const QVariant v = g.model()->index(row - g.FixedRows(), col).data(Qt::ForegroundRole);
    return v.isValid() ? qvariant_cast<QBrush>(v).color() : QColor();
}

// The tool tip a pause of the pointer over cell (col, row) shows.
QString toolTipAt(TKRVGrid& g, int col, int row) {
    QToolTip::hideText();
    const QPoint p = cellPos(g, col, row);
    QHelpEvent help(QEvent::ToolTip, p, g.viewport()->mapToGlobal(p));
    QApplication::sendEvent(g.viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

}  // namespace

TEST(KRVGridRoles, RolesGoWithTheirRowWhereverItGoes) {
    const QColor red(0x80, 0, 0);
    auto g = makeGrid({row("d"), row("b"), row("c"), row("a")});
    g->SetRowForeground(2, red);                                 // b
    g->SetRowForeground(3, Qt::green);                           // c
    g->SetCellData(1, 3, Qt::ForegroundRole, QBrush(Qt::blue));  // wins over c's row colour
    g->SetCellToolTip(3, 3, "c's version");
    EXPECT_EQ(colourOf(*g, 2, 3), red);
    EXPECT_EQ(colourOf(*g, 3, 1), QColor(Qt::blue));
    EXPECT_EQ(colourOf(*g, 3, 2), QColor(Qt::green));

    clickHeader(*g, 0);     // a b c d
    g->MoveRow(2, 4);       // a c d b
    g->ExchangeRows(1, 2);  // c a d b
    g->InsertRow(1);        // _ c a d b
    g->DeleteRow(3);        // _ c d b
    g->verticalHeader()->moveSection(3, 0);  // the user drags b's row handle: b _ c d
    EXPECT_EQ(g->Cells(0, 1), "b");
    EXPECT_EQ(colourOf(*g, 1, 3), red);
    EXPECT_EQ(colourOf(*g, 3, 1), QColor(Qt::blue));
    EXPECT_EQ(g->CellToolTip(3, 3), "c's version");
    EXPECT_FALSE(colourOf(*g, 2).isValid());
    EXPECT_FALSE(colourOf(*g, 4).isValid());

    // Texts only are copied; a cleared or refilled row has no roles left.
    g->CopyRow(3, 4);
    EXPECT_FALSE(g->RowForeground(4).isValid());
    g->ClearRow(3);
    EXPECT_EQ(g->CellToolTip(3, 3), "");
    g->Clear(4, 3);
    EXPECT_FALSE(g->RowForeground(1).isValid());

    EXPECT_THROW(g->SetRowForeground(3, red), EListError);
    EXPECT_THROW(g->SetCellToolTip(4, 1, "x"), EListError);
    EXPECT_THROW(g->SetCellData(0, 1, Qt::DisplayRole, "x"), std::invalid_argument);
}

TEST(KRVGridHints, ACutCellShowsItsWholeTextElseTheGridsHint) {
    auto g = makeGrid({row("court", "un texte bien trop long pour sa colonne", "c", "1.0"), row("x", "y", "z", "2.0")});
    g->setToolTip("Un clic sur les entêtes pour trier...");
    g->SetColWidths(1, 40);
    g->SetCellToolTip(3, 2, "version binaire 2.0.0.7");
    EXPECT_EQ(toolTipAt(*g, 1, 1), "un texte bien trop long pour sa colonne");
    EXPECT_EQ(toolTipAt(*g, 0, 1), "Un clic sur les entêtes pour trier...");
    EXPECT_EQ(toolTipAt(*g, 3, 2), "version binaire 2.0.0.7");
    g->SetColWidths(3, 12);  // cut, with a tip of its own: both
    EXPECT_EQ(toolTipAt(*g, 3, 2), "2.0\nversion binaire 2.0.0.7");
    g->SetColWidths(1, 400);
    EXPECT_EQ(g->CellHint(1, 1), "");
}

TEST(KRVGridWidths, TheStretchingColumnTakesTheRoomLeftAndNeverLessThanItsOwn) {
    auto g = makeGrid({row("a", "b", "c", "d")});
    for (int c = 0; c < 4; ++c) g->SetColWidths(c, 100);
    g->SetColResizing(true);
    g->SetStretchCol(2);
    g->resize(900, 300);
    QCoreApplication::processEvents();
    g->horizontalHeader()->resizeSection(1, 150);  // by hand: taken from the stretching column
    EXPECT_EQ(g->ColWidths(2), g->viewport()->width() - 350);

    g->resize(300, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(g->ColWidths(2), 100);
    g->horizontalHeader()->resizeSection(2, 500);  // widened by hand: its own width from then on
    g->resize(700, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(g->ColWidths(2), 500);
    g->SetStretchCol(-1);
    g->resize(1200, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(g->ColWidths(2), 500);
}

// With HeadClickReverse a second click on the same title reverses the
// order (stable both ways) and the title shows it; other columns start
// ascending again, and new data rows forget the order.
TEST(KRVGridSort, ASecondClickReversesWhenAskedAndKeysMayBeTheHosts) {
    auto g = makeGrid({row("b", "1"), row("a", "2"), row("B", "3"), row("c", "4")});
    clickHeader(*g, 0);
    clickHeader(*g, 0);
    EXPECT_EQ(g->Cells(1, 1), "2");  // the specified grid: the second click changes nothing
    EXPECT_EQ(g->horizontalHeader()->isSortIndicatorShown(), false);

    g->HeadClickReverse = true;
    clickHeader(*g, 0);
    EXPECT_EQ(dataOf(*g), Table({row("c", "4"), row("b", "1"), row("B", "3"), row("a", "2")}));
    EXPECT_TRUE(g->horizontalHeader()->isSortIndicatorShown());
    EXPECT_EQ(g->horizontalHeader()->sortIndicatorSection(), 0);
    EXPECT_EQ(g->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_TRUE(g->SortedDescending());
    clickHeader(*g, 0);
    EXPECT_EQ(g->Cells(0, 1), "a");
    EXPECT_FALSE(g->SortedDescending());

    // The host's keys: numbers by their value.
    g->OnSortKey = [](int, const QString& text) {
        return std::string(8 - std::min<int>(8, int(text.size())), '0') + text.toStdString();
    };
    g->SetDataRows({row("x", "10"), row("y", "9"), row("z", "100")});
    EXPECT_EQ(g->SortedCol(), -1);
    EXPECT_FALSE(g->horizontalHeader()->isSortIndicatorShown());
    clickHeader(*g, 1);
    EXPECT_EQ(dataOf(*g), Table({row("y", "9"), row("x", "10"), row("z", "100")}));
}

// Hidden rows go with their texts through sorts and moves; cleared or
// replaced rows show again.
TEST(KRVGridRows, HiddenRowsFollowTheirTexts) {
    auto g = makeGrid({row("c"), row("a"), row("b")});
    g->SetRowHidden(1, true);  // "c"
    EXPECT_TRUE(g->isRowHidden(0));
    g->SortByColumn(0);
    EXPECT_EQ(g->Cells(0, 3), "c");
    EXPECT_TRUE(g->RowHidden(3));
    EXPECT_TRUE(g->isRowHidden(2));
    EXPECT_FALSE(g->isRowHidden(0));
    g->MoveRow(3, 1);
    EXPECT_TRUE(g->isRowHidden(0));
    EXPECT_FALSE(g->isRowHidden(2));
    EXPECT_THROW(g->SetRowHidden(0, true), EListError);
    g->ClearRow(1);
    EXPECT_FALSE(g->isRowHidden(0));
    g->SetRowHidden(2, true);
    g->SetDataRows({row("d"), row("e")});
    EXPECT_FALSE(g->isRowHidden(1));
    EXPECT_EQ(g->RowCount(), 3);
}
