#include "lists/RowHeightFitter.h"

#include "lists/PlayingRowHighlightDelegate.h"
#include "lists/SongTableModel.h"
#include "lists/TablePage.h"

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <algorithm>

RowHeightFitter::RowHeightFitter(QTableView* table, SongTableModel* model, PlayingRowHighlightDelegate* delegate,
                                 QObject* parent)
    : QObject(parent)
    , m_table(table)
    , m_model(model)
    , m_delegate(delegate)
    , m_delayTimer(new QTimer(this))
    , m_sliceTimer(new QTimer(this))
{
    m_delayTimer->setSingleShot(true);
    m_delayTimer->setInterval(kFitDelayMs);
    connect(m_delayTimer, &QTimer::timeout, this, &RowHeightFitter::fitAll);
    m_sliceTimer->setInterval(0);
    connect(m_sliceTimer, &QTimer::timeout, this, &RowHeightFitter::fitNextSlice);
}

void RowHeightFitter::fitAllSoon()
{
    m_delayTimer->start();
}

bool RowHeightFitter::isFitting() const
{
    return m_sliceTimer->isActive();
}

RowHeightFitter::Measure RowHeightFitter::measure() const
{
    const PlayingRowHighlightDelegate::OneLine line = m_delegate->oneLine(m_table);
    Measure m;
    // The row number's own label may need more than the cells.
    m.oneLine = std::max(line.height, m_table->verticalHeader()->sectionSizeHint(0));
    m.margins = line.margins;
    m.nameWidth = m_table->columnWidth(SongTableModel::NameColumn);
    m.remarkWidth = m_table->columnWidth(SongTableModel::RemarkColumn);
    return m;
}

void RowHeightFitter::fitAll()
{
    m_delayTimer->stop();
    m_sliceTimer->stop();
    if (!m_table)
        return;
    const Measure m = measure();
    QHeaderView* rows = m_table->verticalHeader();
    if (rows->defaultSectionSize() != m.oneLine)
        rows->setDefaultSectionSize(m.oneLine);
    const QFontMetrics metrics(m_table->font());
    const auto [first, last] = TablePage::rowsOnScreen(*m_table, kMaxPageRows);
    m_doneFirst = first;
    m_doneLast = last;
    for (int row = first; row >= 0 && row <= last; ++row)
        fitRow(row, m, metrics);
    m_nextRow = 0;
    if (m_model->rowCount() > last - std::max(first, 0) + 1)
        m_sliceTimer->start();
}

void RowHeightFitter::fitRows(int first, int last)
{
    if (!m_table || first < 0 || last < first)
        return;
    const Measure m = measure();
    last = std::min(last, m_model->rowCount() - 1);
    if (m_table->verticalHeader()->defaultSectionSize() != m.oneLine || last - first + 1 > kMaxPageRows) {
        fitAll();
        return;
    }
    const QFontMetrics metrics(m_table->font());
    for (int row = first; row <= last; ++row)
        fitRow(row, m, metrics);
}

void RowHeightFitter::fitRow(int row, const Measure& m, const QFontMetrics& metrics)
{
    const QString name = m_model->data(m_model->index(row, SongTableModel::NameColumn)).toString();
    const QString remark = m_model->data(m_model->index(row, SongTableModel::RemarkColumn)).toString();
    const bool wraps =
        !PlayingRowHighlightDelegate::fitsOnOneLine(SongTableModel::NameColumn, metrics, name, m.nameWidth, m.margins)
        || !PlayingRowHighlightDelegate::fitsOnOneLine(SongTableModel::RemarkColumn, metrics, remark, m.remarkWidth,
                                                       m.margins);
    if (wraps)
        m_table->resizeRowToContents(row);
    else if (m_table->verticalHeader()->sectionSize(row) != m.oneLine)
        m_table->verticalHeader()->resizeSection(row, m.oneLine);
}

void RowHeightFitter::fitNextSlice()
{
    if (!m_table) {
        m_sliceTimer->stop();
        return;
    }
    const int rows = m_model->rowCount();
    const Measure m = measure();
    const QFontMetrics metrics(m_table->font());
    QElapsedTimer clock;
    clock.start();
    while (m_nextRow < rows && clock.nsecsElapsed() < kSliceNs) {
        if (m_nextRow >= m_doneFirst && m_nextRow <= m_doneLast) {
            m_nextRow = m_doneLast + 1;
            continue;
        }
        fitRow(m_nextRow++, m, metrics);
    }
    if (m_nextRow >= rows)
        m_sliceTimer->stop();
}
