#pragma once

#include <QStyledItemDelegate>

class QLineEdit;

// Draws the sidebar's rows: the "Favorites" caption, the divider after the favourites, and folder
// and page rows indented by their depth with their drag handle, chevron, icon, title and a page's
// badges, the open page and drop targets highlighted. Its rename field is a plain line edit.
class LibraryRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int kRowVPad = 4;
    static constexpr int kIndent = 14;
    static constexpr int kHPad = 6;
    static constexpr int kChevronWidth = 16;
    static constexpr int kHandleWidth = 12;
    static constexpr const char *kPublishedToolTip = "Published to the web";
    static constexpr const char *kSharedToolTipSuffix = " people have access";

    // Where a folder or page row puts its parts; empty rectangles for parts it does not show.
    struct Parts {
        QRect handle;
        QRect chevron;
        QRect icon;
        QRect title;
        QRect globe;
        QRect share;
    };
    static Parts layout(const QRect &rowRect, const QModelIndex &index);

    explicit LibraryRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    // The field takes the stored name once, when made: a row changed under it keeps what was typed.
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

Q_SIGNALS:
    // A rename field was opened on the row (the view follows its text and its end).
    void editorCreated(QLineEdit *editor, const QModelIndex &index) const;
};
