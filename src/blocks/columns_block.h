#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QString>

#include <functional>

class BlockHost;
class QComboBox;
class QHBoxLayout;
class QLabel;

// Side-by-side columns; the blocks inside name their column. "count" is read within 2 to 4.
namespace ColumnsBlock {

inline constexpr const char *kPlaceholder = "Column";

struct Content {
    qint64 count = kMinColumns;

    static constexpr int kMinColumns = 2;
    static constexpr int kMaxColumns = 4;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// The header's text: "3 columns".
QString headerText(int count);

BlockView *makeView(BlockHost &host);

} // namespace ColumnsBlock

// The header with the count picker, then one cell per column holding what the page deals to it.
// The cells are made again only when the count changes.
class ColumnsBlockView : public BlockView
{
    Q_OBJECT
public:
    static constexpr int kMinCellHeight = 60;

    explicit ColumnsBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;

    QLabel *headerLabel() const { return m_header; }
    QComboBox *countPicker() const { return m_picker; }
    // The cells, in column order.
    QList<QWidget *> cells() const;

private:
    void rebuildCells(int count, const std::function<QWidget *(int, int)> &content);

    QLabel *m_header;
    QComboBox *m_picker;
    QWidget *m_row;
    QHBoxLayout *m_rowLayout;
    QList<QWidget *> m_cells;
    int m_builtCount = 0;
    bool m_builtWithContent = false;
};
