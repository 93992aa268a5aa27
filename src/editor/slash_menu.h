#pragma once

#include "blocks/block_type.h"

#include <QFrame>
#include <QMap>

#include <vector>

class QKeyEvent;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// The list of block kinds shown over a text block whose text starts with "/": the kinds matching
// the text after the "/", in six sections. The user keeps typing into the block to narrow it; the
// block's text view forwards Up, Down, Return and Escape to `handleKey`.
class SlashMenu : public QFrame
{
    Q_OBJECT
public:
    static constexpr int kWidth = 280;
    static constexpr int kRowHeight = 28;

    explicit SlashMenu(QWidget *parent = nullptr);

    // "Text", "Lists", "Basic", "Media", "Advanced", "Layout & data".
    static const QStringList &sectionOrder();
    static QString section(BlockType kind);
    static QString icon(BlockType kind);
    // Kinds whose raw value or label contains the query, case-insensitively; all for an empty one.
    static std::vector<BlockType> filteredKinds(const QString &query);
    static QMap<QString, std::vector<BlockType>> groupedKinds(const std::vector<BlockType> &kinds);
    // Rows at 28 points plus 80, at most 360 (80 with no match).
    static int panelHeight(qsizetype kindCount);

    void setQuery(const QString &query);
    const QString &query() const { return m_query; }
    const std::vector<BlockType> &kinds() const { return m_kinds; }
    // The row Return picks; -1 when nothing matches.
    int highlighted() const { return m_highlighted; }

    // Up and Down move the highlight, Return picks it, Escape dismisses; true when consumed.
    bool handleKey(const QKeyEvent &event);

Q_SIGNALS:
    void picked(BlockType kind);
    void dismissed();

private:
    void rebuild();
    void setHighlighted(int index);

    QString m_query;
    std::vector<BlockType> m_kinds;
    int m_highlighted = -1;
    QScrollArea *m_scroll;
    QWidget *m_list = nullptr;
    QList<QPushButton *> m_rows;
};
