// TKRVGrid: the sortable string grid of the "Personnel" palette.
//
// A QTableView over a model of text rows that keeps the string-grid indexing:
// row and column indices count every row and column, fixed (title) ones
// included, so row 0 is the title row and RowCount counts it. The fixed rows
// are drawn as the horizontal header, so they stay in view while the data
// scrolls; fixed columns are drawn in the header colours inside the view.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <QVariant>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class QMimeData;
class TKRVGridModel;

// The list-index error raised by the row operations for indices out of range.
class EListError : public std::out_of_range {
public:
    explicit EListError(const char* message = "Index hors limites") : std::out_of_range(message) {}
};

class TKRVGrid : public QTableView {
    Q_OBJECT
    Q_PROPERTY(int ColCount READ ColCount WRITE setColCount)
    Q_PROPERTY(int RowCount READ RowCount WRITE setRowCount)
    Q_PROPERTY(int FixedCols READ FixedCols WRITE setFixedCols)
    Q_PROPERTY(int FixedRows READ FixedRows WRITE setFixedRows)
    Q_PROPERTY(int DefaultColWidth READ DefaultColWidth WRITE setDefaultColWidth)
    Q_PROPERTY(int DefaultRowHeight READ DefaultRowHeight WRITE setDefaultRowHeight)
    Q_PROPERTY(bool GridLines READ GridLines WRITE setGridLines)
    Q_PROPERTY(bool ColResizing READ ColResizing WRITE setColResizing)
    Q_PROPERTY(bool RowMoving READ RowMoving WRITE setRowMoving)
    Q_PROPERTY(bool RowSelect READ RowSelect WRITE setRowSelect)
    Q_PROPERTY(bool HeadClickSort MEMBER HeadClickSort WRITE setHeadClickSort)
    Q_PROPERTY(bool HeadClickReverse MEMBER HeadClickReverse WRITE setHeadClickReverse)
    Q_PROPERTY(TtmAction DeadKeyAction MEMBER DeadKeyAction WRITE setDeadKeyAction)
    Q_PROPERTY(TDeadKey DeadKey READ DeadKey WRITE setDeadKey)
    Q_PROPERTY(int StretchCol READ StretchCol WRITE setStretchCol)
    // The view's own settings that the properties above stand for, or that
    // would break the current-cell and drag rules: not offered in Designer.
    Q_PROPERTY(bool showGrid READ showGrid WRITE setShowGrid DESIGNABLE false STORED false)
    Q_PROPERTY(QAbstractItemView::SelectionBehavior selectionBehavior READ selectionBehavior WRITE
                   setSelectionBehavior DESIGNABLE false STORED false)
    Q_PROPERTY(QAbstractItemView::SelectionMode selectionMode READ selectionMode WRITE setSelectionMode
                   DESIGNABLE false STORED false)
    Q_PROPERTY(QAbstractItemView::EditTriggers editTriggers READ editTriggers WRITE setEditTriggers
                   DESIGNABLE false STORED false)
    Q_PROPERTY(bool sortingEnabled READ isSortingEnabled WRITE setSortingEnabled DESIGNABLE false STORED false)
    Q_PROPERTY(bool dragEnabled READ dragEnabled WRITE setDragEnabled DESIGNABLE false STORED false)
    Q_PROPERTY(QAbstractItemView::DragDropMode dragDropMode READ dragDropMode WRITE setDragDropMode
                   DESIGNABLE false STORED false)
    Q_PROPERTY(bool dragDropOverwriteMode READ dragDropOverwriteMode WRITE setDragDropOverwriteMode
                   DESIGNABLE false STORED false)
    Q_PROPERTY(Qt::DropAction defaultDropAction READ defaultDropAction WRITE setDefaultDropAction
                   DESIGNABLE false STORED false)

public:
    enum TtmAction { tmDeplace, tmCopie };
    Q_ENUM(TtmAction)
    enum TDeadKey { ttmShift, ttmCtrl };
    Q_ENUM(TDeadKey)

    explicit TKRVGrid(QWidget* parent = nullptr);
    ~TKRVGrid() override;

    // --- the string grid -------------------------------------------------
    int ColCount() const;
    int RowCount() const;
    int FixedCols() const;
    int FixedRows() const;
    // Counts below 1 become 1; fixed counts are kept below the totals.
    void SetColCount(int count);
    void SetRowCount(int count);
    void SetFixedCols(int count);
    void SetFixedRows(int count);
    // The conventional setters, as uic writes them.
    void setColCount(int count) { SetColCount(count); }
    void setRowCount(int count) { SetRowCount(count); }
    void setFixedCols(int count) { SetFixedCols(count); }
    void setFixedRows(int count) { SetFixedRows(count); }

    // Cell texts by column and row (fixed cells included). Out-of-range
    // reads give ""; out-of-range writes raise EListError.
    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);
    // The texts of a whole row, one per column.
    QStringList Rows(int row) const;
    void SetRows(int row, const QStringList& texts);
    // Bulk fill: replaces every data row (the rows below FixedRows) with
    // `rows`, RowCount following; at least one (blank) data row remains.
    // One model reset instead of a signal per cell.
    void SetDataRows(const std::vector<QStringList>& rows);

    // Item roles beside the texts (colours, fonts, tool tips...), for data
    // rows. A row's apply to each of its cells; a cell's win over its row's.
    // They go with their row when rows are sorted, moved, exchanged,
    // inserted or deleted; CopyRow copies texts only; ClearRow, Clear and
    // SetDataRows drop them. An invalid value removes the role. The texts are
    // no role here (they are Cells): setting the display or edit role raises
    // std::invalid_argument; out-of-range writes raise EListError.
    QVariant RowData(int row, int role) const;
    void SetRowData(int row, int role, const QVariant& value);
    QVariant CellData(int col, int row, int role) const;
    void SetCellData(int col, int row, int role, const QVariant& value);
    // The text colour of a row; an invalid colour gives the palette's back.
    QColor RowForeground(int row) const;
    void SetRowForeground(int row, const QColor& color);
    // A cell's own tool tip, shown below its whole text when that is cut.
    QString CellToolTip(int col, int row) const;
    void SetCellToolTip(int col, int row, const QString& text);
    // What the tool tip over a data cell shows: its whole text when the
    // column is too narrow for it, and its own tool tip; empty elsewhere,
    // where the grid's own tool tip shows.
    QString CellHint(int col, int row) const;

    // Current cell. Setting it out of range raises EListError; the host may
    // make a fixed row or column current (the view then shows no current
    // item). Clicks and key moves never do, and ask SelectCell first.
    int Col() const { return col_; }
    int Row() const { return row_; }
    void SetCol(int col);
    void SetRow(int row);

    // The cell under a point given in this widget's coordinates; -1 for a
    // coordinate that falls on no cell.
    void MouseToCell(int x, int y, int& col, int& row) const;

    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int DefaultColWidth() const { return defaultColWidth_; }
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void SetDefaultRowHeight(int height);
    void setDefaultColWidth(int width) { SetDefaultColWidth(width); }
    void setDefaultRowHeight(int height) { SetDefaultRowHeight(height); }

    bool GridLines() const;
    void SetGridLines(bool on);
    bool ColResizing() const { return colResizing_; }
    void SetColResizing(bool on);
    bool RowMoving() const { return rowMoving_; }
    void SetRowMoving(bool on);
    bool RowSelect() const;
    void SetRowSelect(bool on);
    // The column that takes the width the others leave when the grid is wider
    // than its columns (-1: none). Its width set by code or by hand is its
    // least; every column stays resizable.
    int StretchCol() const { return stretchCol_; }
    void SetStretchCol(int col);
    void setStretchCol(int col) { SetStretchCol(col); }
    void setGridLines(bool on) { SetGridLines(on); }
    void setColResizing(bool on) { SetColResizing(on); }
    void setRowMoving(bool on) { SetRowMoving(on); }
    void setRowSelect(bool on) { SetRowSelect(on); }

    // The selection check of the grid, asked before a click, a key move or
    // a drag makes a cell current; asks OnSelectCell.
    virtual bool SelectCell(int col, int row);

    // --- additions ---------------------------------------------------------
    void CopyRow(int src, int dst);
    void ClearRow(int row);
    void InsertRow(int row);  // row may also be RowCount (append)
    virtual void DeleteRow(int row);
    void MoveRow(int from, int to);
    void ExchangeRows(int a, int b);
    void Clear(int cols, int rows);

    virtual QString GetCell();
    virtual void SetCell(const QString& text);
    virtual void SetDeadKey(TDeadKey key);
    TDeadKey DeadKey() const { return deadKey_; }
    void setDeadKey(TDeadKey key) { SetDeadKey(key); }
    void setHeadClickSort(bool on) { HeadClickSort = on; }
    void setDeadKeyAction(TtmAction action) { DeadKeyAction = action; }
    // The modifier standing for the dead key's virtual-key code.
    Qt::KeyboardModifier DeadKeyModifier() const { return deadKeyModifier_; }
    int DeadKeyCode() const { return deadKeyCode_; }  // 16 Shift, 17 Control
    virtual bool DropOnCell(int col, int row);

    // Sorts the data rows on the column's lower-cased texts (ascending,
    // stable), as a click on that column's header does.
    void SortByColumn(int col);
    // The same in either order (stable both ways), on the keys OnSortKey
    // gives when it is set.
    void SortByColumn(int col, bool descending);
    // The column the last header click sorted and its order; -1 once the
    // data rows are replaced (SetDataRows, Clear).
    int SortedCol() const { return sortCol_; }
    bool SortedDescending() const { return sortDescending_; }

    // Data rows the view leaves out (the texts stay, and go on counting in
    // RowCount); the state goes with its row as the texts do, and a cleared
    // or replaced row is shown again.
    bool RowHidden(int row) const;
    void SetRowHidden(int row, bool hidden);

    // Starts a drag of the current cell's text; the grid never starts one
    // on its own. The grid answers only the drags whose data it made itself
    // with CellMimeData() (format CellMimeType()): not those of another grid.
    void BeginDrag();
    QMimeData* CellMimeData() const;
    static QString CellMimeType();

    bool HeadClickSort = true;
    // A click on the header of the column last sorted ascending sorts it
    // descending (then ascending again), and the header shows the order.
    bool HeadClickReverse = false;
    void setHeadClickReverse(bool on) { HeadClickReverse = on; }
    bool Empty = true;
    TtmAction DeadKeyAction = tmDeplace;

    // Queries answered by the one host, set directly by it: the grid acts on
    // the answer at once, so they are callbacks, not signals.
    std::function<void(TKRVGrid* Sender, int ACol, int ARow, bool& Accept)> OnDropOnCell;
    std::function<void(TKRVGrid* Sender, int ACol, int ARow, bool& CanSelect)> OnSelectCell;
    // A character typed in the grid; setting Key to a null QChar drops it.
    std::function<void(TKRVGrid* Sender, QChar& Key)> OnKeyPress;
    // The key a column's texts sort by, compared byte by byte; unset, the
    // lower-cased text.
    std::function<std::string(int Col, const QString& Text)> OnSortKey;

signals:
    // Fired on every mouse press over the grid (data area or title row),
    // after the title-click sort and after the current cell has followed
    // the press. X and Y are in this widget's coordinates.
    // The second press of a double click is a mouse-down like the first.
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    // A drop was done: the source cell's text went to the target cell, and
    // the source was cleared when DeleteSrc (a move).
    void OnCellDropped(int SrcCol, int SrcRow, int DstCol, int DstRow, const QString& SrcText, const QString& DstTetx,
                       bool DeleteSrc);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A string grid does not jump to a row on a typed letter: the letters
    // belong to the host's key handler.
    void keyboardSearch(const QString&) override {}
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool viewportEvent(QEvent* event) override;
    // Resizes of the viewport, as for every scroll area.
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class DragState { Enter, Move, Leave };
    bool dragOver(const QPoint& gridPos, Qt::KeyboardModifiers modifiers, DragState state);
    bool ownDrag(const QMimeData* mime) const;
    // Whether a click or a key may make the view's cell `index` current.
    bool mayBecomeCurrent(const QModelIndex& index);
    void emitMouseDown(QMouseEvent* event);
    void checkRow(int row, int limit) const;
    void headerPressed(const QPoint& gridPos);
    void syncView();
    // The view's hidden rows brought in step with the model's, for view
    // rows first..last.
    void syncHidden(int first, int last);
    void forgetSort();
    void onRowSectionMoved(int logical, int oldVisual, int newVisual);
    void onColumnResized(int col, int oldWidth, int newWidth);
    void fitStretchCol();
    bool textIsCut(const QModelIndex& index) const;
    void checkCell(int col, int row) const;

    TKRVGridModel* model_;
    int col_ = 0;
    int row_ = 0;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 24;
    int stretchCol_ = -1;
    int sortCol_ = -1;
    bool sortDescending_ = false;
    int stretchLeast_ = 0;  // the stretching column's own width
    bool fitting_ = false;
    bool colResizing_ = false;
    bool rowMoving_ = false;
    bool dragAccepted_ = false;
    bool syncing_ = false;
    bool inDoubleClick_ = false;
    bool dragOurs_ = false;    // the drag over the grid is one of its own
    bool lastAnswer_ = false;  // the answer to its latest enter or move
    TDeadKey deadKey_ = ttmCtrl;
    Qt::KeyboardModifier deadKeyModifier_ = Qt::ControlModifier;
    int deadKeyCode_ = 17;
};

using TtmAction = TKRVGrid::TtmAction;
using TDeadKey = TKRVGrid::TDeadKey;
inline constexpr TtmAction tmDeplace = TKRVGrid::tmDeplace;
inline constexpr TtmAction tmCopie = TKRVGrid::tmCopie;
inline constexpr TDeadKey ttmShift = TKRVGrid::ttmShift;
inline constexpr TDeadKey ttmCtrl = TKRVGrid::ttmCtrl;
