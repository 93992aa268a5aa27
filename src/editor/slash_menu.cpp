#include "editor/slash_menu.h"

#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

constexpr int kMaxHeight = 360;
constexpr int kChrome = 80;
constexpr int kRowSpacing = 8;
constexpr auto kNoMatches = "No matches";

// Each section's last kind, in declared order.
constexpr std::array<std::pair<BlockType::Case, const char *>, 6> kSections{{
    {BlockType::h3, "Text"},
    {BlockType::todo, "Lists"},
    {BlockType::toggle, "Basic"},
    {BlockType::bookmark, "Media"},
    {BlockType::button, "Advanced"},
    {BlockType::database, "Layout & data"},
}};

constexpr std::array<const char *, BlockType::kCount> kIcons{
    "text.alignleft",
    "textformat.size.larger",
    "textformat.size",
    "textformat.size.smaller",
    "list.bullet",
    "list.number",
    "checkmark.square",
    "quote.opening",
    "lightbulb",
    "chevron.left.forwardslash.chevron.right",
    "minus",
    "chevron.right",
    "photo",
    "pencil.tip",
    "waveform",
    "paperclip",
    "play.rectangle",
    "bookmark",
    "function",
    "list.bullet.indent",
    "at",
    "rectangle.connected.to.line.below",
    "button.programmable",
    "rectangle.split.3x1",
    "arrow.triangle.2.circlepath",
    "table",
};

QFont caption(const QWidget *widget)
{
    QFont font = widget->font();
    font.setPixelSize(10);
    return font;
}

} // namespace

SlashMenu::SlashMenu(QWidget *parent)
    : QFrame(parent)
    , m_scroll(new QScrollArea(this))
{
    setObjectName(QStringLiteral("slashMenu"));
    setStyleSheet(QStringLiteral("#slashMenu { background: palette(window); border-radius: 8px; }"));
    setFocusPolicy(Qt::NoFocus);
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, int(0.15 * 255)));
    shadow->setBlurRadius(6);
    shadow->setOffset(0, 3);
    setGraphicsEffect(shadow);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    rebuild();
}

const QStringList &SlashMenu::sectionOrder()
{
    static const QStringList order = [] {
        QStringList titles;
        for (const auto &[last, title] : kSections)
            titles << QString::fromLatin1(title);
        return titles;
    }();
    return order;
}

QString SlashMenu::section(BlockType kind)
{
    for (const auto &[last, title] : kSections) {
        if (kind.value() <= last)
            return QString::fromLatin1(title);
    }
    return {};
}

QString SlashMenu::icon(BlockType kind)
{
    return QString::fromLatin1(kIcons[kind.value()]);
}

std::vector<BlockType> SlashMenu::filteredKinds(const QString &query)
{
    const QString q = query.toLower();
    std::vector<BlockType> kinds;
    for (const BlockType kind : BlockType::allCases()) {
        if (q.isEmpty() || kind.rawValue().contains(q) || kind.label().toLower().contains(q))
            kinds.push_back(kind);
    }
    return kinds;
}

QMap<QString, std::vector<BlockType>> SlashMenu::groupedKinds(const std::vector<BlockType> &kinds)
{
    QMap<QString, std::vector<BlockType>> groups;
    for (const BlockType kind : kinds)
        groups[section(kind)].push_back(kind);
    return groups;
}

int SlashMenu::panelHeight(qsizetype kindCount)
{
    return int(std::min<qsizetype>(kRowHeight * kindCount + kChrome, kMaxHeight));
}

void SlashMenu::setQuery(const QString &query)
{
    if (query == m_query && m_list)
        return;
    m_query = query;
    rebuild();
}

bool SlashMenu::handleKey(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event.key()) {
    case Qt::Key_Up:
        if (m_kinds.empty())
            return false;
        setHighlighted(std::max(0, m_highlighted - 1));
        return true;
    case Qt::Key_Down:
        if (m_kinds.empty())
            return false;
        setHighlighted(std::min(int(m_kinds.size()) - 1, m_highlighted + 1));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_highlighted < 0 || (event.modifiers() & Qt::ShiftModifier))
            return false;
        Q_EMIT picked(m_kinds[size_t(m_highlighted)]);
        return true;
    case Qt::Key_Escape:
        Q_EMIT dismissed();
        return true;
    default:
        return false;
    }
}

void SlashMenu::rebuild()
{
    m_kinds = filteredKinds(m_query);
    m_rows.clear();
    // A row may be the sender of the click that led here: delete later, never at once.
    if (QWidget *old = m_scroll->takeWidget())
        old->deleteLater();
    m_list = new QWidget;
    m_list->setAutoFillBackground(false);
    auto *stack = new QVBoxLayout(m_list);
    stack->setContentsMargins(0, 4, 0, 4);
    stack->setSpacing(0);

    const QColor secondary = AppStyle::secondary(this);
    const QColor tertiary = AppStyle::tertiary(this);
    if (m_kinds.empty()) {
        auto *none = new QLabel(QString::fromLatin1(kNoMatches), m_list);
        none->setFont(caption(this));
        none->setStyleSheet(QStringLiteral("color: %1; padding: 8px;").arg(AppStyle::css(secondary)));
        stack->addWidget(none);
    } else {
        const auto groups = groupedKinds(m_kinds);
        for (const QString &title : sectionOrder()) {
            const auto group = groups.constFind(title);
            if (group == groups.cend())
                continue;
            auto *header = new QLabel(title, m_list);
            QFont headerFont = caption(this);
            headerFont.setWeight(QFont::DemiBold);
            header->setFont(headerFont);
            header->setStyleSheet(
                QStringLiteral("color: %1; padding: 8px 10px 2px 10px;").arg(AppStyle::css(tertiary)));
            stack->addWidget(header);
            for (const BlockType kind : *group) {
                auto *row = new QPushButton(m_list);
                row->setFlat(true);
                row->setFocusPolicy(Qt::NoFocus);
                row->setFixedHeight(kRowHeight);
                row->setProperty("kind", kind.rawValue());
                row->setAccessibleName(kind.label());
                auto *line = new QHBoxLayout(row);
                line->setContentsMargins(10, 5, 10, 5);
                line->setSpacing(kRowSpacing);
                auto *symbol = new QLabel(row);
                symbol->setFixedWidth(18);
                symbol->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(secondary)));
                EditorSymbols::apply(*symbol, icon(kind), 14);
                auto *label = new QLabel(kind.label(), row);
                auto *raw = new QLabel(QLatin1Char('/') + kind.rawValue(), row);
                QFont rawFont = caption(this);
                raw->setFont(rawFont);
                raw->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(tertiary)));
                for (QLabel *part : {symbol, label, raw})
                    part->setAttribute(Qt::WA_TransparentForMouseEvents);
                line->addWidget(symbol);
                line->addWidget(label);
                line->addStretch(1);
                line->addWidget(raw);
                connect(row, &QPushButton::clicked, this, [this, kind] { Q_EMIT picked(kind); });
                stack->addWidget(row);
                m_rows.append(row);
            }
        }
    }
    stack->addStretch(1);
    m_scroll->setWidget(m_list);
    // Wide enough for the longest label beside its hint ("Embed (YouTube, Vimeo, iframe)" /embed).
    int rowWidth = 0;
    for (QPushButton *row : std::as_const(m_rows))
        rowWidth = std::max(rowWidth, row->layout()->minimumSize().width());
    const int width = rowWidth + m_scroll->verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
    setFixedSize(std::max(kWidth, width), panelHeight(qsizetype(m_kinds.size())));
    m_highlighted = -1;
    setHighlighted(m_kinds.empty() ? -1 : 0);
}

void SlashMenu::setHighlighted(int index)
{
    m_highlighted = index;
    QColor soft = AppStyle::accent(this);
    soft.setAlpha(int(0.18 * 255));
    for (int i = 0; i < m_rows.size(); ++i) {
        m_rows[i]->setStyleSheet(i == index
                                     ? QStringLiteral("QPushButton { border: none; border-radius: 4px; "
                                                      "background: %1; }")
                                           .arg(AppStyle::css(soft))
                                     : QStringLiteral("QPushButton { border: none; background: "
                                                      "transparent; }"));
    }
    if (index >= 0 && index < m_rows.size())
        m_scroll->ensureWidgetVisible(m_rows[index], 0, 0);
}
