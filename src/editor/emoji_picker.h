#pragma once

#include "editor/emoji_catalog.h"

#include <QFrame>
#include <QList>
#include <QString>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

// The popup in which the user chooses an emoji as an icon (a page's or a folder's): the catalogue by
// category, a keyword filter, and "Remove" while an icon is set. It reports the choice and closes
// itself; what the choice does is the host's.
class EmojiPicker : public QFrame
{
    Q_OBJECT
public:
    static constexpr const char *kHeader = "Page icon"; // a host may name its own icon instead
    static constexpr const char *kRemove = "Remove";
    static constexpr const char *kFilterPlaceholder = "Filter emoji (e.g. star, book, fire)...";
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 460;
    static constexpr int kColumns = 10;
    static constexpr int kCellSize = 32;

    explicit EmojiPicker(QWidget *parent = nullptr);

    // The icon being edited; "" means none, which hides "Remove".
    const QString &currentIcon() const { return m_currentIcon; }
    void setCurrentIcon(const QString &icon);
    QString query() const;
    void setQuery(const QString &query);

    // The category's items with a keyword containing the query (trimmed, lower-cased), in catalogue
    // order; every item for a blank query. Neither the emoji nor the category name is searched.
    static std::vector<EmojiCatalog::Item> filtered(const EmojiCatalog::Category &category,
                                                    const QString &query);
    std::vector<EmojiCatalog::Item> filtered(const EmojiCatalog::Category &category) const;

    // Reports the choice, then closes.
    void pick(const QString &emoji);
    void removeIcon();

    // The header's name of what gets the icon ("Page icon" unless set).
    void setHeader(const QString &header);
    QString header() const;

    // What the picker shows now (tests and hosts).
    QLineEdit *filterField() const { return m_filter; }
    QPushButton *removeButton() const { return m_remove; }
    QToolButton *closeButton() const { return m_close; }
    QStringList shownCategories() const;
    // The cells of one shown category, in order; none when the category is hidden.
    QList<QToolButton *> cells(const QString &categoryName) const;

Q_SIGNALS:
    void picked(const QString &emoji);
    void removed();
    // Hidden, chosen or not.
    void closed();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void rebuildSections();
    QWidget *makeSection(const EmojiCatalog::Category &category,
                         const std::vector<EmojiCatalog::Item> &items);
    void styleCell(QToolButton &cell, bool selected) const;

    QString m_currentIcon;
    QLineEdit *m_filter;
    QLabel *m_header = nullptr;
    QPushButton *m_remove;
    QToolButton *m_close;
    QWidget *m_sections;
    QVBoxLayout *m_sectionsLayout;
};
