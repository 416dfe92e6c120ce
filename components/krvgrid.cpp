#include "krvgrid.h"

#include "platform/platform.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolTip>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <stdexcept>
#include <string>

namespace {

// Drags of a grid cell carry this format, with the grid that made them as
// its data; other drags are not ours to answer.
constexpr char kCellMime[] = "application/x-tavelin-grid-cell";

// The data of a grid's own drags: the process and the grid.
QByteArray dragToken(const void* grid) {
    return QByteArray::number(QCoreApplication::applicationPid()) + ':' + QByteArray::number(quintptr(grid), 16);
}

QStringList blankTexts(int cols) {
    QStringList texts;
    texts.resize(cols);
    return texts;
}

// One row of the grid: its texts and the roles set on it and on its cells,
// which go wherever the row goes.
struct GridRow {
    QStringList texts;
    QMap<int, QVariant> roles;                 // for each cell of the row
    QMap<int, QMap<int, QVariant>> cellRoles;  // by column, over the row's
    bool hidden = false;                       // left out of the view

    QString& operator[](int col) { return texts[col]; }
    const QString& operator[](int col) const { return texts[col]; }

    QVariant role(int col, int role) const {
        const auto cell = cellRoles.constFind(col);
        if (cell != cellRoles.cend()) {
            const auto value = cell->constFind(role);
            if (value != cell->cend())
                return *value;
        }
        return roles.value(role);
    }
    void resize(int cols) {
        texts.resize(cols);
        while (!cellRoles.isEmpty() && cellRoles.lastKey() >= cols)
            cellRoles.erase(std::prev(cellRoles.end()));
    }
};

GridRow blankRow(int cols) { return GridRow{blankTexts(cols), {}, {}, false}; }

// Roles the grid answers itself: the texts.
bool textRole(int role) { return role == Qt::DisplayRole || role == Qt::EditRole; }

}  // namespace

// Every row of the grid, fixed ones included. The view sees the rows below
// the fixed rows as its rows; the fixed rows become its horizontal header.
// The model alone writes its rows and tells its views: the grid asks it.
class TKRVGridModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(rows_.size()) - fixedRows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : cols_; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        const bool fixed = index.column() < fixedCols_;
        const GridRow& row = rows_[std::size_t(index.row() + fixedRows_)];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return row[index.column()];
        case Qt::BackgroundRole:
            return fixed ? QVariant(QApplication::palette().button()) : row.role(index.column(), role);
        case Qt::ForegroundRole:
            return fixed ? QVariant(QApplication::palette().buttonText()) : row.role(index.column(), role);
        default:
            return row.role(index.column(), role);
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        if (index.column() < fixedCols_)
            return Qt::ItemIsEnabled;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= cols_)
            return {};
        QStringList lines;
        for (int r = 0; r < fixedRows_; ++r)
            lines << rows_[std::size_t(r)][section];
        return lines.join(QLatin1Char('\n'));
    }

    // --- what the grid reads (grid rows count the fixed ones) -------------
    int gridRows() const { return int(rows_.size()); }
    int cols() const { return cols_; }
    int fixedRows() const { return fixedRows_; }
    int fixedCols() const { return fixedCols_; }
    const QString& text(int row, int col) const { return rows_[std::size_t(row)][col]; }
    const QStringList& texts(int row) const { return rows_[std::size_t(row)].texts; }
    QVariant rowRole(int row, int role) const { return rows_[std::size_t(row)].roles.value(role); }
    bool hidden(int row) const { return rows_[std::size_t(row)].hidden; }
    void setHidden(int row, bool hidden) {
        if (rows_[std::size_t(row)].hidden == hidden)
            return;
        rows_[std::size_t(row)].hidden = hidden;
        rowsChanged(row, row);
    }
    QVariant cellRole(int row, int col, int role) const {
        return rows_[std::size_t(row)].cellRoles.value(col).value(role);
    }
    // The view's index of a grid cell below the fixed rows.
    QModelIndex cell(int row, int col) const { return index(row - fixedRows_, col); }

    // --- what the grid asks it to change ------------------------------------
    void setText(int row, int col, const QString& text) {
        QString& cell = rows_[std::size_t(row)][col];
        if (cell == text)
            return;
        cell = text;
        if (row < fixedRows_) {
            emit headerDataChanged(Qt::Horizontal, col, col);
        } else {
            const QModelIndex i = this->cell(row, col);
            emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
        }
    }
    void setTexts(int row, QStringList texts) {
        texts.resize(cols_);
        rows_[std::size_t(row)].texts = std::move(texts);
        rowsChanged(row, row);
    }
    // Every row below the fixed ones replaced by `rows` (at least one, blank).
    void setDataRows(const std::vector<QStringList>& rows) {
        resizeRows(fixedRows_ + std::max<int>(int(rows.size()), 1));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QStringList texts = rows[i];
            texts.resize(cols_);
            rows_[std::size_t(fixedRows_) + i] = GridRow{std::move(texts), {}, {}, false};
        }
        if (rows.empty())
            rows_[std::size_t(fixedRows_)] = blankRow(cols_);
        rowsChanged(fixedRows_, gridRows() - 1);
    }
    // False when nothing changed.
    bool setRowRole(int row, int role, const QVariant& value) {
        auto& roles = rows_[std::size_t(row)].roles;
        if (value.isValid())
            roles.insert(role, value);
        else if (roles.remove(role) == 0)
            return false;
        if (row >= fixedRows_)
            emit dataChanged(cell(row, 0), cell(row, cols_ - 1), {role});
        return true;
    }
    void setCellRole(int row, int col, int role, const QVariant& value) {
        auto& cells = rows_[std::size_t(row)].cellRoles;
        if (value.isValid()) {
            cells[col].insert(role, value);
        } else {
            const auto c = cells.find(col);
            if (c == cells.end() || c->remove(role) == 0)
                return;
            if (c->isEmpty())
                cells.erase(c);
        }
        if (row >= fixedRows_) {
            const QModelIndex i = cell(row, col);
            emit dataChanged(i, i, {role});
        }
    }
    void copyTexts(int src, int dst) {
        rows_[std::size_t(dst)].texts = rows_[std::size_t(src)].texts;
        rowsChanged(dst, dst);
    }
    void clearRow(int row) {
        rows_[std::size_t(row)] = blankRow(cols_);
        rowsChanged(row, row);
    }
    // Every row below the fixed ones blanked.
    void clearData() {
        for (int r = fixedRows_; r < gridRows(); ++r)
            rows_[std::size_t(r)] = blankRow(cols_);
        rowsChanged(fixedRows_, gridRows() - 1);
    }
    void insertRow(int row) {
        // The new row appears at the end and the texts shift down to it, so the
        // view's row indices (current cell included) keep their positions.
        resizeRows(gridRows() + 1);
        std::rotate(rows_.begin() + row, rows_.end() - 1, rows_.end());
        rows_[std::size_t(row)] = blankRow(cols_);
        rowsChanged(row, gridRows() - 1);
    }
    // Removes the row, or blanks the only row below the fixed ones; true when
    // it was removed.
    bool deleteRow(int row) {
        std::rotate(rows_.begin() + row, rows_.begin() + row + 1, rows_.end());
        if (gridRows() > fixedRows_ + 1) {
            resizeRows(gridRows() - 1);
            rowsChanged(row, gridRows() - 1);
            return true;
        }
        rows_[std::size_t(fixedRows_)] = blankRow(cols_);
        rowsChanged(row, gridRows() - 1);
        return false;
    }
    void moveRow(int from, int to) {
        if (to < from)
            std::rotate(rows_.begin() + to, rows_.begin() + from, rows_.begin() + from + 1);
        else
            std::rotate(rows_.begin() + from, rows_.begin() + from + 1, rows_.begin() + to + 1);
        rowsChanged(from, to);
    }
    void exchangeRows(int a, int b) {
        std::swap(rows_[std::size_t(a)], rows_[std::size_t(b)]);
        rowsChanged(a, a);
        rowsChanged(b, b);
    }
    // The rows below the fixed ones in the order `order` gives (a permutation
    // of them, by their place below the fixed rows).
    void reorderData(const std::vector<std::size_t>& order) {
        const std::size_t n = order.size();
        std::size_t first = 0;
        while (first < n && order[first] == first)
            ++first;
        if (first == n)
            return;
        std::vector<GridRow> sorted(n);
        for (std::size_t i = 0; i < n; ++i)
            sorted[i] = std::move(rows_[std::size_t(fixedRows_) + order[i]]);
        std::move(sorted.begin(), sorted.end(), rows_.begin() + fixedRows_);
        rowsChanged(fixedRows_ + int(first), gridRows() - 1);
    }

    void resizeRows(int count) {
        const int old = gridRows();
        if (count > old) {
            beginInsertRows({}, old - fixedRows_, count - fixedRows_ - 1);
            rows_.resize(std::size_t(count), blankRow(cols_));
            endInsertRows();
        } else if (count < old) {
            beginRemoveRows({}, count - fixedRows_, old - fixedRows_ - 1);
            rows_.resize(std::size_t(count));
            endRemoveRows();
        }
    }

    void resizeCols(int count) {
        if (count > cols_) {
            beginInsertColumns({}, cols_, count - 1);
            cols_ = count;
            for (auto& row : rows_)
                row.resize(count);
            endInsertColumns();
        } else if (count < cols_) {
            beginRemoveColumns({}, count, cols_ - 1);
            cols_ = count;
            for (auto& row : rows_)
                row.resize(count);
            endRemoveColumns();
        }
    }

    void setFixedRows(int count) {
        beginResetModel();
        fixedRows_ = count;
        endResetModel();
    }

    void setFixedCols(int count) {
        fixedCols_ = count;
        rowsChanged(0, gridRows() - 1);
    }

private:
    // Tells the views that grid rows from..to (inclusive) changed.
    void rowsChanged(int from, int to) {
        if (from > to)
            std::swap(from, to);
        if (from < fixedRows_)
            emit headerDataChanged(Qt::Horizontal, 0, cols_ - 1);
        const int first = std::max(from, fixedRows_) - fixedRows_;
        const int last = std::min(to, gridRows() - 1) - fixedRows_;
        if (first <= last)
            emit dataChanged(index(first, 0), index(last, cols_ - 1));
    }

    std::vector<GridRow> rows_ = std::vector<GridRow>(5, blankRow(5));
    int cols_ = 5;
    int fixedRows_ = 1;
    int fixedCols_ = 1;
};

TKRVGrid::TKRVGrid(QWidget* parent) : QTableView(parent), model_(new TKRVGridModel(this)) {
    setModel(model_);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setCornerButtonEnabled(false);
    setWordWrap(false);

    QHeaderView* h = horizontalHeader();
    h->setSectionsClickable(false);
    h->setHighlightSections(false);
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h->setMinimumSectionSize(0);
    h->setDefaultSectionSize(defaultColWidth_);
    h->setSectionResizeMode(QHeaderView::Fixed);
    h->setStretchLastSection(false);
    h->viewport()->installEventFilter(this);

    QHeaderView* v = verticalHeader();
    v->setSectionResizeMode(QHeaderView::Fixed);
    v->setMinimumSectionSize(1);
    v->setDefaultSectionSize(defaultRowHeight_);
    v->setSectionsClickable(false);
    v->setHighlightSections(false);
    v->setFixedWidth(14);
    v->hide();
    v->viewport()->installEventFilter(this);
    connect(v, &QHeaderView::sectionMoved, this, &TKRVGrid::onRowSectionMoved);
    connect(h, &QHeaderView::sectionResized, this, &TKRVGrid::onColumnResized);
    // Hidden rows follow their texts wherever the model puts them.
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) { syncHidden(from.row(), to.row()); });
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this] { syncHidden(0, model_->gridRows() - model_->fixedRows() - 1); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this,
            [this] { syncHidden(0, model_->gridRows() - model_->fixedRows() - 1); });
    connect(model_, &QAbstractItemModel::modelReset, this,
            [this] { syncHidden(0, model_->gridRows() - model_->fixedRows() - 1); });

    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);

    col_ = model_->fixedCols();
    row_ = model_->fixedRows();
    syncView();

    DeadKeyAction = tmDeplace;
    SetDeadKey(ttmCtrl);
    HeadClickSort = true;
    Empty = true;
}

TKRVGrid::~TKRVGrid() = default;

// --- size -------------------------------------------------------------------

int TKRVGrid::ColCount() const { return model_->cols(); }
int TKRVGrid::RowCount() const { return model_->gridRows(); }
int TKRVGrid::FixedCols() const { return model_->fixedCols(); }
int TKRVGrid::FixedRows() const { return model_->fixedRows(); }

void TKRVGrid::SetColCount(int count) {
    count = std::max(count, 1);
    if (count == ColCount())
        return;
    if (model_->fixedCols() >= count)
        model_->setFixedCols(count - 1);
    model_->resizeCols(count);
    col_ = std::min(col_, count - 1);
    syncView();
    fitStretchCol();
}

void TKRVGrid::SetRowCount(int count) {
    count = std::max(count, 1);
    if (count == RowCount())
        return;
    if (model_->fixedRows() >= count)
        SetFixedRows(count - 1);
    model_->resizeRows(count);
    row_ = std::min(row_, count - 1);
    syncView();
}

void TKRVGrid::SetFixedCols(int count) {
    count = std::clamp(count, 0, ColCount() - 1);
    if (count != model_->fixedCols())
        model_->setFixedCols(count);
}

void TKRVGrid::SetFixedRows(int count) {
    count = std::clamp(count, 0, RowCount() - 1);
    if (count == model_->fixedRows())
        return;
    // A reset forgets the column widths; keep them.
    std::vector<int> widths;
    for (int c = 0; c < ColCount(); ++c)
        widths.push_back(horizontalHeader()->sectionSize(c));
    model_->setFixedRows(count);
    fitting_ = true;
    for (int c = 0; c < ColCount(); ++c)
        horizontalHeader()->resizeSection(c, widths[std::size_t(c)]);
    fitting_ = false;
    horizontalHeader()->setVisible(count > 0);
    syncView();
}

// --- cells ------------------------------------------------------------------

QString TKRVGrid::Cells(int col, int row) const {
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount())
        return {};
    return model_->text(row, col);
}

void TKRVGrid::SetCells(int col, int row, const QString& text) {
    checkRow(row, RowCount());
    if (col < 0 || col >= ColCount())
        throw EListError();
    model_->setText(row, col, text);
}

QStringList TKRVGrid::Rows(int row) const {
    if (row < 0 || row >= RowCount())
        return blankTexts(ColCount());
    return model_->texts(row);
}

void TKRVGrid::SetRows(int row, const QStringList& texts) {
    checkRow(row, RowCount());
    model_->setTexts(row, texts);
}

void TKRVGrid::SetDataRows(const std::vector<QStringList>& rows) {
    SetRowCount(model_->fixedRows() + std::max<int>(int(rows.size()), 1));
    model_->setDataRows(rows);
    forgetSort();
}

bool TKRVGrid::RowHidden(int row) const {
    if (row < model_->fixedRows() || row >= RowCount())
        return false;
    return model_->hidden(row);
}

void TKRVGrid::SetRowHidden(int row, bool hidden) {
    checkRow(row, RowCount());
    if (row < model_->fixedRows())
        throw EListError();
    model_->setHidden(row, hidden);
}

void TKRVGrid::syncHidden(int first, int last) {
    const int fixed = model_->fixedRows();
    last = std::min(last, model_->gridRows() - fixed - 1);
    for (int r = std::max(first, 0); r <= last; ++r) {
        const bool hide = model_->hidden(r + fixed);
        if (isRowHidden(r) != hide)
            setRowHidden(r, hide);
    }
}

// --- roles ------------------------------------------------------------------

void TKRVGrid::checkCell(int col, int row) const {
    checkRow(row, RowCount());
    if (col < 0 || col >= ColCount())
        throw EListError();
}

QVariant TKRVGrid::RowData(int row, int role) const {
    if (row < 0 || row >= RowCount() || textRole(role))
        return {};
    return model_->rowRole(row, role);
}

void TKRVGrid::SetRowData(int row, int role, const QVariant& value) {
    if (textRole(role))
        throw std::invalid_argument("TKRVGrid: cell texts are set with SetCells");
    checkRow(row, RowCount());
    model_->setRowRole(row, role, value);
}

QVariant TKRVGrid::CellData(int col, int row, int role) const {
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount() || textRole(role))
        return {};
    return model_->cellRole(row, col, role);
}

void TKRVGrid::SetCellData(int col, int row, int role, const QVariant& value) {
    if (textRole(role))
        throw std::invalid_argument("TKRVGrid: cell texts are set with SetCells");
    checkCell(col, row);
    model_->setCellRole(row, col, role, value);
}

QColor TKRVGrid::RowForeground(int row) const {
    const QVariant brush = RowData(row, Qt::ForegroundRole);
    return brush.isValid() ? qvariant_cast<QBrush>(brush).color() : QColor();
}

void TKRVGrid::SetRowForeground(int row, const QColor& color) {
    SetRowData(row, Qt::ForegroundRole, color.isValid() ? QVariant(QBrush(color)) : QVariant());
}

QString TKRVGrid::CellToolTip(int col, int row) const { return CellData(col, row, Qt::ToolTipRole).toString(); }

void TKRVGrid::SetCellToolTip(int col, int row, const QString& text) {
    SetCellData(col, row, Qt::ToolTipRole, text.isEmpty() ? QVariant() : QVariant(text));
}

// As the style draws item texts: inside the text rectangle, less a margin
// each side, elided when wider.
bool TKRVGrid::textIsCut(const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return false;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.text = text;
    option.features |= QStyleOptionViewItem::HasDisplay;
    const QVariant font = index.data(Qt::FontRole);
    if (font.canConvert<QFont>())
        option.font = qvariant_cast<QFont>(font).resolve(option.font);
    option.fontMetrics = QFontMetrics(option.font);
    const QRect textRect = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return option.fontMetrics.horizontalAdvance(text) > textRect.width() - 2 * margin;
}

QString TKRVGrid::CellHint(int col, int row) const {
    const int fixed = model_->fixedRows();
    if (row < fixed || row >= RowCount() || col < 0 || col >= ColCount())
        return {};
    const QModelIndex i = model_->index(row - fixed, col);
    const QString own = i.data(Qt::ToolTipRole).toString();
    if (!textIsCut(i))
        return own;
    return own.isEmpty() ? Cells(col, row) : Cells(col, row) + QLatin1Char('\n') + own;
}

bool TKRVGrid::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTableView::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex i = indexAt(help->pos());
    const QString hint = i.isValid() ? CellHint(i.column(), i.row() + model_->fixedRows()) : QString();
    if (hint.isEmpty())
        return false;  // the event goes on to the grid, which shows its own tool tip
    QToolTip::showText(help->globalPos(), hint, viewport(), visualRect(i));
    return true;
}

// --- current cell -----------------------------------------------------------

void TKRVGrid::SetCol(int col) {
    if (col < 0 || col >= ColCount())
        throw EListError();
    col_ = col;
    syncView();
}

void TKRVGrid::SetRow(int row) {
    checkRow(row, RowCount());
    row_ = row;
    syncView();
}

void TKRVGrid::syncView() {
    if (!selectionModel())
        return;
    syncing_ = true;
    if (row_ >= model_->fixedRows() && col_ >= 0 && col_ < ColCount()) {
        const QModelIndex i = model_->index(row_ - model_->fixedRows(), col_);
        const QItemSelectionModel::SelectionFlags flags =
            QItemSelectionModel::ClearAndSelect | (RowSelect() ? QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate);
        if (currentIndex() != i)
            selectionModel()->setCurrentIndex(i, flags);
        else
            selectionModel()->select(i, flags);  // a model reset may have dropped the row's highlight
    } else {
        selectionModel()->clear();
    }
    syncing_ = false;
}

void TKRVGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!syncing_ && current.isValid()) {
        col_ = current.column();
        row_ = current.row() + model_->fixedRows();
    }
}

void TKRVGrid::MouseToCell(int x, int y, int& col, int& row) const {
    col = -1;
    row = -1;
    const QPoint p(x, y);
    QHeaderView* h = horizontalHeader();
    if (h->isVisible()) {
        const QPoint hp = h->viewport()->mapFrom(this, p);
        if (h->viewport()->rect().contains(hp)) {
            col = h->logicalIndexAt(hp.x());
            const int height = std::max(h->viewport()->height(), 1);
            row = std::clamp(hp.y() * model_->fixedRows() / height, 0, model_->fixedRows() - 1);
            return;
        }
    }
    const QPoint vp = viewport()->mapFrom(this, p);
    if (viewport()->rect().contains(vp)) {
        col = columnAt(vp.x());
        const int r = rowAt(vp.y());
        row = r < 0 ? -1 : r + model_->fixedRows();
        return;
    }
    QHeaderView* v = verticalHeader();
    if (v->isVisible()) {
        const QPoint rp = v->viewport()->mapFrom(this, p);
        if (v->viewport()->rect().contains(rp)) {
            const int r = v->logicalIndexAt(rp.y());
            row = r < 0 ? -1 : r + model_->fixedRows();
        }
    }
}

// --- appearance -------------------------------------------------------------

int TKRVGrid::ColWidths(int col) const { return horizontalHeader()->sectionSize(col); }

void TKRVGrid::SetColWidths(int col, int width) {
    if (col == stretchCol_)
        stretchLeast_ = width;
    horizontalHeader()->resizeSection(col, width);
    fitStretchCol();
}

void TKRVGrid::SetStretchCol(int col) {
    if (col == stretchCol_)
        return;
    QHeaderView* h = horizontalHeader();
    const int old = stretchCol_;
    stretchCol_ = col;
    if (old >= 0 && old < h->count()) {
        fitting_ = true;
        h->resizeSection(old, stretchLeast_);
        fitting_ = false;
    }
    stretchLeast_ = col >= 0 && col < h->count() ? h->sectionSize(col) : 0;
    fitStretchCol();
}

void TKRVGrid::fitStretchCol() {
    QHeaderView* h = horizontalHeader();
    if (fitting_ || stretchCol_ < 0 || stretchCol_ >= h->count())
        return;
    int others = 0;
    for (int c = 0; c < h->count(); ++c)
        if (c != stretchCol_ && !h->isSectionHidden(c))
            others += h->sectionSize(c);
    const int width = std::max(stretchLeast_, viewport()->width() - others);
    if (h->sectionSize(stretchCol_) == width)
        return;
    fitting_ = true;
    h->resizeSection(stretchCol_, width);
    fitting_ = false;
}

void TKRVGrid::onColumnResized(int col, int, int newWidth) {
    if (fitting_)
        return;
    // By hand or by code: that is the column's own width from now on.
    if (col == stretchCol_)
        stretchLeast_ = newWidth;
    fitStretchCol();
}

void TKRVGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitStretchCol();
}

void TKRVGrid::SetDefaultColWidth(int width) {
    defaultColWidth_ = width;
    horizontalHeader()->setDefaultSectionSize(width);
}

void TKRVGrid::SetDefaultRowHeight(int height) {
    defaultRowHeight_ = height;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(height);
}

bool TKRVGrid::GridLines() const { return showGrid(); }
void TKRVGrid::SetGridLines(bool on) { setShowGrid(on); }

void TKRVGrid::SetColResizing(bool on) {
    colResizing_ = on;
    horizontalHeader()->setSectionResizeMode(on ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void TKRVGrid::SetRowMoving(bool on) {
    rowMoving_ = on;
    verticalHeader()->setSectionsMovable(on);
    verticalHeader()->setVisible(on);
}

bool TKRVGrid::RowSelect() const { return selectionBehavior() == SelectRows; }
void TKRVGrid::SetRowSelect(bool on) {
    setSelectionBehavior(on ? SelectRows : SelectItems);
    syncView();
}

void TKRVGrid::onRowSectionMoved(int, int oldVisual, int newVisual) {
    // The header only serves as a handle: put it back and move the texts, so
    // row indices keep meaning grid positions.
    QHeaderView* v = verticalHeader();
    {
        const QSignalBlocker block(v);
        v->moveSection(newVisual, oldVisual);
    }
    MoveRow(oldVisual + model_->fixedRows(), newVisual + model_->fixedRows());
}

bool TKRVGrid::SelectCell(int col, int row) {
    bool can = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, can);
    return can;
}

// --- row operations ---------------------------------------------------------

void TKRVGrid::checkRow(int row, int limit) const {
    if (row < 0 || row >= limit)
        throw EListError();
}

void TKRVGrid::CopyRow(int src, int dst) {
    checkRow(src, RowCount());
    checkRow(dst, RowCount());
    model_->copyTexts(src, dst);
}

void TKRVGrid::ClearRow(int row) {
    checkRow(row, RowCount());
    model_->clearRow(row);
}

void TKRVGrid::InsertRow(int row) {
    checkRow(row, RowCount() + 1);
    model_->insertRow(row);
}

void TKRVGrid::DeleteRow(int row) {
    checkRow(row, RowCount());
    if (model_->deleteRow(row)) {
        row_ = std::min(row_, RowCount() - 1);
        syncView();
    } else {
        Empty = true;
    }
}

void TKRVGrid::MoveRow(int from, int to) {
    checkRow(from, RowCount());
    checkRow(to, RowCount());
    if (from == to)
        return;
    model_->moveRow(from, to);
}

void TKRVGrid::ExchangeRows(int a, int b) {
    const int fixed = model_->fixedRows();
    if (a < fixed || a >= RowCount() || b < fixed || b >= RowCount())
        throw EListError();
    model_->exchangeRows(a, b);
}

void TKRVGrid::Clear(int cols, int rows) {
    SetColCount(cols);
    SetRowCount(rows);
    model_->clearData();
    Empty = true;
    forgetSort();
}

// --- current cell text, dead key, drop rule ---------------------------------

QString TKRVGrid::GetCell() { return Cells(col_, row_); }

void TKRVGrid::SetCell(const QString& text) { SetCells(col_, row_, text); }

void TKRVGrid::SetDeadKey(TDeadKey key) {
    deadKey_ = key;
    deadKeyCode_ = key == ttmShift ? 16 : 17;
    deadKeyModifier_ = key == ttmShift ? Qt::ShiftModifier : Qt::ControlModifier;
}

bool TKRVGrid::DropOnCell(int col, int row) {
    if (!OnDropOnCell)
        return true;
    bool accept = true;
    OnDropOnCell(this, col, row, accept);
    return accept;
}

// --- sorting ----------------------------------------------------------------

void TKRVGrid::SortByColumn(int col) { SortByColumn(col, false); }

void TKRVGrid::forgetSort() {
    sortCol_ = -1;
    sortDescending_ = false;
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

void TKRVGrid::SortByColumn(int col, bool descending) {
    if (col < 0 || col >= ColCount())
        return;
    const int fixed = model_->fixedRows();
    const std::size_t n = std::size_t(RowCount() - fixed);
    if (n < 2)
        return;
    // Same result as the straight insertion sort on lowered keys compared
    // bytewise (std::string compares as unsigned char): ascending and stable.
    std::vector<std::string> keys(n);
    for (std::size_t i = 0; i < n; ++i)
        keys[i] = OnSortKey ? OnSortKey(col, model_->text(fixed + int(i), col))
                            : platform::toLower(model_->text(fixed + int(i), col).toStdString());
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t(0));
    if (descending)
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[b] < keys[a]; });
    else
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    model_->reorderData(order);
}

// --- mouse and keys ---------------------------------------------------------

void TKRVGrid::headerPressed(const QPoint& gridPos) {
    int c, r;
    MouseToCell(gridPos.x(), gridPos.y(), c, r);
    if (model_->fixedRows() == 0 || !HeadClickSort || r < 0 || r >= model_->fixedRows() || c < model_->fixedCols())
        return;
    const bool descending = HeadClickReverse && c == sortCol_ && !sortDescending_;
    SortByColumn(c, descending);
    sortCol_ = c;
    sortDescending_ = descending;
    if (HeadClickReverse) {
        // The arrow points the way the texts grow, as file managers draw it.
        horizontalHeader()->setSortIndicator(c, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        horizontalHeader()->setSortIndicatorShown(true);
    }
}

bool TKRVGrid::eventFilter(QObject* watched, QEvent* event) {
    // The second press of a double click arrives as a double-click event.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w == horizontalHeader()->viewport() || w == verticalHeader()->viewport()) {
            auto* me = static_cast<QMouseEvent*>(event);
            const QPoint p = w->mapTo(this, me->position().toPoint());
            if (w == horizontalHeader()->viewport())
                headerPressed(p);
            emit MouseDown(me->button(), me->modifiers(), p.x(), p.y());
        }
    }
    return QTableView::eventFilter(watched, event);
}

bool TKRVGrid::mayBecomeCurrent(const QModelIndex& index) {
    if (!index.isValid() || index == currentIndex())
        return true;
    return index.column() >= model_->fixedCols() && SelectCell(index.column(), index.row() + model_->fixedRows());
}

void TKRVGrid::emitMouseDown(QMouseEvent* event) {
    const QPoint p = viewport()->mapTo(this, event->position().toPoint());
    emit MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TKRVGrid::mousePressEvent(QMouseEvent* event) {
    if (mayBecomeCurrent(indexAt(event->position().toPoint())))
        QTableView::mousePressEvent(event);
    else if (focusPolicy() & Qt::ClickFocus)
        setFocus(Qt::MouseFocusReason);  // the current cell stays where it is
    if (!inDoubleClick_)
        emitMouseDown(event);
}

void TKRVGrid::mouseMoveEvent(QMouseEvent* event) {
    // Dragging the pointer with a button down moves the current cell too.
    if (event->buttons() != Qt::NoButton && !mayBecomeCurrent(indexAt(event->position().toPoint())))
        return;
    QTableView::mouseMoveEvent(event);
}

void TKRVGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    inDoubleClick_ = true;
    QTableView::mouseDoubleClickEvent(event);  // may handle it as a press on another cell
    inDoubleClick_ = false;
    emitMouseDown(event);
}

QModelIndex TKRVGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    QModelIndex target = QTableView::moveCursor(action, modifiers);
    // Keys stop at the first column that is not fixed.
    if (target.isValid() && target.column() < model_->fixedCols())
        target = model_->index(target.row(), model_->fixedCols());
    return mayBecomeCurrent(target) ? target : currentIndex();
}

void TKRVGrid::keyPressEvent(QKeyEvent* event) {
    if (OnKeyPress && !event->text().isEmpty()) {
        QChar key = event->text().at(0);
        OnKeyPress(this, key);
        if (key.isNull()) {
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

// --- drag and drop ----------------------------------------------------------

QString TKRVGrid::CellMimeType() { return QString::fromLatin1(kCellMime); }

QMimeData* TKRVGrid::CellMimeData() const {
    auto* mime = new QMimeData;
    mime->setText(Cells(col_, row_));
    mime->setData(kCellMime, dragToken(this));
    return mime;
}

bool TKRVGrid::ownDrag(const QMimeData* mime) const {
    return mime && mime->hasFormat(kCellMime) && mime->data(kCellMime) == dragToken(this);
}

void TKRVGrid::BeginDrag() {
    auto* drag = new QDrag(this);
    drag->setMimeData(CellMimeData());
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool TKRVGrid::dragOver(const QPoint& gridPos, Qt::KeyboardModifiers modifiers, DragState state) {
    int c, r;
    MouseToCell(gridPos.x(), gridPos.y(), c, r);
    if (c == -1 || r == -1 || !SelectCell(c, r))
        return false;
    const bool deadDown = modifiers.testFlag(deadKeyModifier_);
    const bool move = (DeadKeyAction == tmDeplace) == deadDown;
    const QString srcText = GetCell();
    const QString dstOld = Cells(c, r);
    const int srcCol = col_, srcRow = row_;
    const int fixedCols = model_->fixedCols(), fixedRows = model_->fixedRows();

    switch (state) {
    case DragState::Enter:
        if (c == col_ && r == row_) {
            dragAccepted_ = c >= fixedCols && r >= fixedRows && DropOnCell(c, r);
            return dragAccepted_;
        }
        return false;
    case DragState::Move:
        return c >= fixedCols && r >= fixedRows && dragAccepted_ && DropOnCell(c, r);
    case DragState::Leave:
        break;
    }

    if (c < fixedCols || r < fixedRows) {
        dragAccepted_ = false;
        return false;
    }
    bool deleted = false;
    if (dragAccepted_ && DropOnCell(c, r)) {
        SetCells(c, r, srcText);
        if (move && !(c == srcCol && r == srcRow)) {
            SetCell(QString());
            deleted = true;
        }
    } else {
        dragAccepted_ = false;
    }
    SetCol(c);
    SetRow(r);
    if (dragAccepted_)
        emit OnCellDropped(srcCol, srcRow, c, r, srcText, dstOld, deleted);
    dragAccepted_ = false;
    return false;
}

void TKRVGrid::dragEnterEvent(QDragEnterEvent* event) {
    dragOurs_ = ownDrag(event->mimeData());
    if (!dragOurs_) {
        event->ignore();
        return;
    }
    const QPoint p = viewport()->mapTo(this, event->position().toPoint());
    lastAnswer_ = dragOver(p, event->modifiers(), DragState::Enter);
    if (lastAnswer_)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TKRVGrid::dragMoveEvent(QDragMoveEvent* event) {
    if (!ownDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    const QPoint p = viewport()->mapTo(this, event->position().toPoint());
    lastAnswer_ = dragOver(p, event->modifiers(), DragState::Move);
    if (lastAnswer_)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TKRVGrid::dragLeaveEvent(QDragLeaveEvent* event) {
    // Qt ends a drag over a cell that refused it with a leave, not a drop:
    // the current cell still goes to that cell. The pointer going out of the
    // grid, or a drag cancelled over a cell that would take it, drops nothing.
    const QPoint p = mapFromGlobal(QCursor::pos());
    if (dragOurs_ && !lastAnswer_ && rect().contains(p))
        dragOver(p, QGuiApplication::keyboardModifiers(), DragState::Leave);
    dragAccepted_ = false;
    dragOurs_ = false;
    event->accept();
}

void TKRVGrid::dropEvent(QDropEvent* event) {
    if (!ownDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    const QPoint p = viewport()->mapTo(this, event->position().toPoint());
    dragOver(p, event->modifiers(), DragState::Leave);
    dragOurs_ = false;
    // The grid has done any move itself; the drag source must not.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
