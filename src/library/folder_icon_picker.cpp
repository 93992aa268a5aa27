#include "library/folder_icon_picker.h"

#include "app/app_style.h"
#include "library/library_symbols.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kColumns = 10;
constexpr int kCell = 32;

} // namespace

const std::vector<FolderIconPicker::Item> &FolderIconPicker::catalog()
{
    static const std::vector<Item> items{
        {QStringLiteral("📝"), {"note", "memo", "writing"}},
        {QStringLiteral("📌"), {"pin", "important"}},
        {QStringLiteral("⭐"), {"star", "favorite"}},
        {QStringLiteral("🔥"), {"fire", "hot", "trending"}},
        {QStringLiteral("💡"), {"idea", "light", "tip"}},
        {QStringLiteral("✅"), {"check", "done", "complete"}},
        {QStringLiteral("🚀"), {"rocket", "launch", "ship"}},
        {QStringLiteral("📖"), {"book", "read", "journal"}},
        {QStringLiteral("📅"), {"calendar", "date", "schedule"}},
        {QStringLiteral("📊"), {"chart", "report", "data"}},
        {QStringLiteral("📄"), {"doc", "document", "page"}},
        {QStringLiteral("📃"), {"page", "scroll"}},
        {QStringLiteral("📜"), {"scroll", "ancient"}},
        {QStringLiteral("📋"), {"clipboard", "list"}},
        {QStringLiteral("📁"), {"folder", "directory"}},
        {QStringLiteral("📂"), {"folder", "open"}},
        {QStringLiteral("🗂️"), {"dividers", "tabs", "files"}},
        {QStringLiteral("📑"), {"tabs", "bookmarks"}},
        {QStringLiteral("✏️"), {"pencil", "write"}},
        {QStringLiteral("🖊️"), {"pen", "write"}},
        {QStringLiteral("🖋️"), {"pen", "fountain"}},
        {QStringLiteral("✒️"), {"nib", "ink"}},
        {QStringLiteral("📚"), {"books", "library", "stack"}},
        {QStringLiteral("📓"), {"notebook", "journal"}},
        {QStringLiteral("📔"), {"notebook", "decorative"}},
        {QStringLiteral("📕"), {"book", "red"}},
        {QStringLiteral("📗"), {"book", "green"}},
        {QStringLiteral("📘"), {"book", "blue"}},
        {QStringLiteral("📙"), {"book", "orange"}},
        {QStringLiteral("📰"), {"news", "newspaper"}},
    };
    return items;
}

std::vector<FolderIconPicker::Item> FolderIconPicker::filtered(const QString &query)
{
    const QString q = query.trimmed().toLower();
    std::vector<Item> out;
    for (const Item &item : catalog()) {
        if (q.isEmpty() || std::any_of(item.keywords.begin(), item.keywords.end(),
                                       [&](const QString &k) { return k.contains(q); }))
            out.push_back(item);
    }
    return out;
}

FolderIconPicker::FolderIconPicker(const QString &selection, QWidget *parent)
    : QFrame(parent, Qt::Popup)
    , m_selection(selection)
    , m_filter(new QLineEdit(this))
    , m_grid(new QWidget)
    , m_gridLayout(new QGridLayout(m_grid))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        LibrarySymbols::icon(QStringLiteral("face.smiling"), AppStyle::secondary(this)).pixmap(16, 16));
    auto *title = new QLabel(QString::fromLatin1(kHeader), this);
    title->setFont(AppStyle::headline());
    header->addWidget(symbol);
    header->addWidget(title);
    header->addStretch(1);
    if (!selection.isEmpty()) {
        m_remove = new QPushButton(QString::fromLatin1(kRemove), this);
        m_remove->setFlat(true);
        m_remove->setStyleSheet(QStringLiteral("color: red;"));
        connect(m_remove, &QPushButton::clicked, this, [this] {
            Q_EMIT picked(QString());
            close();
        });
        header->addWidget(m_remove);
    }
    auto *closeButton = new QToolButton(this);
    closeButton->setAutoRaise(true);
    closeButton->setIcon(
        LibrarySymbols::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(this)));
    connect(closeButton, &QToolButton::clicked, this, &QWidget::close);
    header->addWidget(closeButton);
    column->addLayout(header);

    m_filter->setPlaceholderText(QString::fromLatin1(kFilterPlaceholder));
    connect(m_filter, &QLineEdit::textChanged, this, &FolderIconPicker::fillGrid);
    column->addWidget(m_filter);

    m_gridLayout->setSpacing(4);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_grid);
    column->addWidget(scroll, 1);
    fillGrid();
}

QList<QToolButton *> FolderIconPicker::cells() const
{
    return m_grid->findChildren<QToolButton *>();
}

void FolderIconPicker::fillGrid()
{
    for (QToolButton *cell : cells())
        delete cell;
    const std::vector<Item> items = filtered(m_filter->text());
    QFont font = AppStyle::body();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    QColor highlight = AppStyle::accent(this);
    highlight.setAlphaF(0.25);
    for (size_t i = 0; i < items.size(); ++i) {
        auto *cell = new QToolButton(m_grid);
        cell->setAutoRaise(true);
        cell->setFont(font);
        cell->setText(items[i].emoji);
        cell->setFixedSize(kCell, kCell);
        cell->setToolTip(items[i].keywords.join(QStringLiteral(", ")));
        if (items[i].emoji == m_selection)
            cell->setStyleSheet(
                QStringLiteral("background: %1; border-radius: 5px;").arg(AppStyle::css(highlight)));
        const QString emoji = items[i].emoji;
        connect(cell, &QToolButton::clicked, this, [this, emoji] {
            Q_EMIT picked(emoji);
            close();
        });
        m_gridLayout->addWidget(cell, int(i) / kColumns, int(i) % kColumns);
    }
}

void FolderIconPicker::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    Q_EMIT dismissed();
}
