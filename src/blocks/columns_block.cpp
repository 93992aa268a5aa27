#include "blocks/columns_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kCountKey = QStringLiteral("count");

} // namespace

namespace ColumnsBlock {

Content Content::read(const JSONObject &content)
{
    // 2 unless it holds a JSON integer.
    const qint64 count = BlockContent::readInt(content, kCountKey, kMinColumns);
    return {std::clamp<qint64>(count, kMinColumns, kMaxColumns)};
}

void Content::write(JSONObject &content) const
{
    content[kCountKey] = count;
}

QString headerText(int count)
{
    return QStringLiteral("%1 columns").arg(count);
}

BlockView *makeView(BlockHost &host)
{
    return new ColumnsBlockView(host);
}

} // namespace ColumnsBlock

ColumnsBlockView::ColumnsBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::columns, parent)
{
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(6);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    const QColor secondary = AppStyle::secondary(this);
    auto *symbol = new QLabel;
    EditorSymbols::apply(*symbol, QStringLiteral("rectangle.split.3x1"), 14);
    symbol->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(secondary)));
    m_header = new QLabel;
    m_header->setFont(AppStyle::caption());
    m_header->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(secondary)));
    m_picker = new QComboBox;
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (int n = ColumnsBlock::Content::kMinColumns; n <= ColumnsBlock::Content::kMaxColumns; ++n)
        m_picker->addItem(QString::number(n), n);
    // Only a pick by the user stores a count: a stored 1 or 9 stays until then.
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        this->host().write(ColumnsBlock::Content{m_picker->itemData(index).toInt()});
    });
    header->addWidget(symbol);
    header->addWidget(m_header);
    header->addStretch(1);
    header->addWidget(m_picker);
    column->addLayout(header);

    m_row = new QWidget;
    m_rowLayout = new QHBoxLayout(m_row);
    m_rowLayout->setContentsMargins(0, 0, 0, 0);
    m_rowLayout->setSpacing(8);
    column->addWidget(m_row);

    setBody(body);
    refresh();
}

QList<QWidget *> ColumnsBlockView::cells() const
{
    return m_cells;
}

void ColumnsBlockView::refresh()
{
    const int count = int(host().read<ColumnsBlock::Content>().count);
    m_header->setText(ColumnsBlock::headerText(count));
    m_picker->setCurrentIndex(m_picker->findData(count));
    const std::function<QWidget *(int, int)> content = host().columnContent();
    if (count != m_builtCount || bool(content) != m_builtWithContent)
        rebuildCells(count, content);
}

void ColumnsBlockView::rebuildCells(int count, const std::function<QWidget *(int, int)> &content)
{
    // The children stay where they are; only their cells are made again for the new count.
    for (QWidget *cell : std::as_const(m_cells)) {
        cell->hide();
        m_rowLayout->removeWidget(cell);
        cell->deleteLater();
    }
    m_cells.clear();
    QColor faint = AppStyle::secondary(this);
    faint.setAlphaF(0.07);
    for (int i = 0; i < count; ++i) {
        auto *cell = new QFrame(m_row);
        cell->setObjectName(QStringLiteral("columnCell"));
        cell->setStyleSheet(
            QStringLiteral("#columnCell { background: %1; border-radius: 4px; }").arg(AppStyle::css(faint)));
        cell->setMinimumHeight(kMinCellHeight);
        // Equal shares of the row, whatever each column holds.
        cell->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        auto *layout = new QVBoxLayout(cell);
        layout->setContentsMargins(6, 6, 6, 6);
        layout->setSpacing(6);
        QWidget *inside = content ? content(i, count) : nullptr;
        if (!inside) {
            auto *placeholder = new QLabel(QString::fromLatin1(ColumnsBlock::kPlaceholder));
            placeholder->setFont(AppStyle::caption());
            placeholder->setStyleSheet(
                QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
            inside = placeholder;
        }
        layout->addWidget(inside);
        layout->addStretch(1);
        m_rowLayout->addWidget(cell, 1);
        m_cells.append(cell);
    }
    m_builtCount = count;
    m_builtWithContent = bool(content);
}
