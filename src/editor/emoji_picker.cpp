#include "editor/emoji_picker.h"

#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr auto kCategoryProperty = "emojiCategory";
constexpr int kHeaderSymbolSize = 16;

} // namespace

EmojiPicker::EmojiPicker(QWidget *parent)
    : QFrame(parent, Qt::Popup)
{
    setFixedSize(kWidth, kHeight);
    setFrameShape(QFrame::StyledPanel);
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(18, 18, 18, 18);
    stack->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *symbol = new QLabel(this);
    EditorSymbols::apply(*symbol, QStringLiteral("face.smiling"), kHeaderSymbolSize);
    header->addWidget(symbol);
    m_header = new QLabel(QString::fromLatin1(kHeader), this);
    m_header->setFont(AppStyle::headline());
    header->addWidget(m_header);
    header->addStretch(1);
    m_remove = new QPushButton(QString::fromLatin1(kRemove), this);
    m_remove->setFlat(true);
    m_remove->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::destructive())));
    connect(m_remove, &QPushButton::clicked, this, &EmojiPicker::removeIcon);
    header->addWidget(m_remove);
    m_close = new QToolButton(this);
    m_close->setAutoRaise(true);
    m_close->setIcon(EditorSymbols::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(this)));
    m_close->setIconSize(QSize(kHeaderSymbolSize, kHeaderSymbolSize));
    connect(m_close, &QToolButton::clicked, this, &QWidget::close);
    header->addWidget(m_close);
    stack->addLayout(header);

    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QString::fromLatin1(kFilterPlaceholder));
    connect(m_filter, &QLineEdit::textChanged, this, &EmojiPicker::rebuildSections);
    stack->addWidget(m_filter);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sections = new QWidget;
    m_sectionsLayout = new QVBoxLayout(m_sections);
    m_sectionsLayout->setContentsMargins(0, 0, 0, 0);
    m_sectionsLayout->setSpacing(0);
    scroll->setWidget(m_sections);
    stack->addWidget(scroll, 1);

    m_remove->setVisible(false);
    rebuildSections();
}

void EmojiPicker::setHeader(const QString &header)
{
    m_header->setText(header);
}

QString EmojiPicker::header() const
{
    return m_header->text();
}

void EmojiPicker::setCurrentIcon(const QString &icon)
{
    m_currentIcon = icon;
    m_remove->setVisible(!icon.isEmpty());
    rebuildSections();
}

QString EmojiPicker::query() const
{
    return m_filter->text();
}

void EmojiPicker::setQuery(const QString &query)
{
    m_filter->setText(query);
}

std::vector<EmojiCatalog::Item> EmojiPicker::filtered(const EmojiCatalog::Category &category,
                                                      const QString &query)
{
    const QString q = query.trimmed().toLower();
    if (q.isEmpty())
        return category.emojis;
    std::vector<EmojiCatalog::Item> passing;
    for (const EmojiCatalog::Item &item : category.emojis) {
        const bool hit = std::any_of(item.keywords.begin(), item.keywords.end(),
                                     [&](const QString &keyword) { return keyword.contains(q); });
        if (hit)
            passing.push_back(item);
    }
    return passing;
}

std::vector<EmojiCatalog::Item> EmojiPicker::filtered(const EmojiCatalog::Category &category) const
{
    return filtered(category, query());
}

void EmojiPicker::pick(const QString &emoji)
{
    Q_EMIT picked(emoji);
    close();
}

void EmojiPicker::removeIcon()
{
    Q_EMIT removed();
    close();
}

QStringList EmojiPicker::shownCategories() const
{
    QStringList names;
    for (const QWidget *section :
         m_sections->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QVariant name = section->property(kCategoryProperty);
        if (name.isValid())
            names << name.toString();
    }
    return names;
}

QList<QToolButton *> EmojiPicker::cells(const QString &categoryName) const
{
    for (QWidget *section : m_sections->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (section->property(kCategoryProperty).toString() == categoryName)
            return section->findChildren<QToolButton *>();
    }
    return {};
}

void EmojiPicker::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // Every showing starts with an empty filter.
    m_filter->clear();
    m_filter->setFocus(Qt::PopupFocusReason);
}

void EmojiPicker::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

void EmojiPicker::rebuildSections()
{
    while (QLayoutItem *item = m_sectionsLayout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            // A cell may be the sender of the click that led here.
            widget->deleteLater();
        }
        delete item;
    }
    for (const EmojiCatalog::Category &category : EmojiCatalog::categories()) {
        const std::vector<EmojiCatalog::Item> items = filtered(category);
        if (!items.empty())
            m_sectionsLayout->addWidget(makeSection(category, items));
    }
    m_sectionsLayout->addStretch(1);
}

QWidget *EmojiPicker::makeSection(const EmojiCatalog::Category &category,
                                  const std::vector<EmojiCatalog::Item> &items)
{
    auto *section = new QWidget(m_sections);
    section->setProperty(kCategoryProperty, category.name);
    auto *stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 6);
    stack->setSpacing(4);
    auto *title = new QLabel(category.name.toUpper(), section);
    QFont caption = AppStyle::caption();
    caption.setWeight(QFont::DemiBold);
    title->setFont(caption);
    title->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    stack->addWidget(title);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);
    // Every column exists even when filtering leaves fewer cells than a row, and the grid keeps its
    // own width, so a short result sits where the full grid's cells do instead of spreading out.
    for (int c = 0; c < kColumns; ++c)
        grid->setColumnMinimumWidth(c, kCellSize);
    const QFont emojiFont = AppStyle::system(22);
    for (size_t i = 0; i < items.size(); ++i) {
        const EmojiCatalog::Item &item = items[i];
        auto *cell = new QToolButton(section);
        cell->setAutoRaise(true);
        cell->setFixedSize(kCellSize, kCellSize);
        cell->setFont(emojiFont);
        cell->setText(item.emoji);
        cell->setToolTip(item.keywords.join(QStringLiteral(", ")));
        styleCell(*cell, item.emoji == m_currentIcon);
        connect(cell, &QToolButton::clicked, this, [this, emoji = item.emoji] { pick(emoji); });
        grid->addWidget(cell, int(i) / kColumns, int(i) % kColumns, Qt::AlignCenter);
    }
    stack->addLayout(grid);
    stack->setAlignment(grid, Qt::AlignLeft);
    return section;
}

void EmojiPicker::styleCell(QToolButton &cell, bool selected) const
{
    cell.setProperty("selected", selected);
    if (!selected) {
        cell.setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 5px; }"));
        return;
    }
    QColor accent = AppStyle::accent(this);
    accent.setAlphaF(0.25);
    cell.setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 5px; background: %1; }")
                           .arg(AppStyle::css(accent)));
}
