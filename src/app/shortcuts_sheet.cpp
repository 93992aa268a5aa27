#include "app/shortcuts_sheet.h"

#include "app/app_symbols.h"
#include "ui/app_style.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kPadding = 24;
constexpr int kHeaderGap = 16;
constexpr int kSectionGap = 20;
constexpr int kRowGap = 8;
constexpr int kTitleSize = 22;

QString native(QKeyCombination keys)
{
    return QKeySequence(keys).toString(QKeySequence::NativeText);
}

// The platform's first binding of a standard command.
QString standard(QKeySequence::StandardKey key)
{
    return QKeySequence(key).toString(QKeySequence::NativeText);
}

ShortcutsSheet::Shortcut row(const QString &keys, const char *action)
{
    return {QUuid::createUuid(), keys, QString::fromUtf8(action)};
}

} // namespace

std::vector<ShortcutsSheet::Shortcut> ShortcutsSheet::textShortcuts()
{
    return {
        row(native(Qt::CTRL | Qt::Key_B), "Bold"),
        row(native(Qt::CTRL | Qt::Key_I), "Italic"),
        row(native(Qt::CTRL | Qt::Key_U), "Underline"),
        row(native(Qt::CTRL | Qt::Key_K), "Insert link"),
        row(native(Qt::CTRL | Qt::SHIFT | Qt::Key_M), "Comment on selection"),
        row(QStringLiteral("Return"), "New block below"),
        row(native(Qt::SHIFT | Qt::Key_Return), "Line break"),
        row(QStringLiteral("Backspace (empty)"), "Delete block / merge up"),
        row(QStringLiteral("Tab / ") + native(Qt::SHIFT | Qt::Key_Tab), "Indent / outdent"),
        row(standard(QKeySequence::Undo), "Undo"),
        row(standard(QKeySequence::Redo), "Redo"),
        row(standard(QKeySequence::Cut), "Cut"),
        row(standard(QKeySequence::Copy), "Copy"),
        row(standard(QKeySequence::Paste), "Paste"),
        row(standard(QKeySequence::SelectAll), "Select all"),
    };
}

std::vector<ShortcutsSheet::Shortcut> ShortcutsSheet::appShortcuts()
{
    return {
        row(native(Qt::CTRL | Qt::Key_N), "New page"),
        row(native(Qt::CTRL | Qt::Key_J), "Quick switch"),
        row(QStringLiteral("Type /"), "Open the block menu"),
        row(native(Qt::CTRL | Qt::Key_Question), "Show this help"),
        row(native(Qt::CTRL | Qt::Key_W), "Close window"),
        row(native(Qt::CTRL | Qt::Key_Q), "Quit"),
    };
}

ShortcutsSheet::ShortcutsSheet(QWidget *parent)
    : QDialog(parent)
    , m_close(new QToolButton(this))
{
    setObjectName(QStringLiteral("shortcutsSheet"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowModality(Qt::WindowModal);
    setFixedSize(kWidth, kHeight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(0);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(QString::fromUtf8(kTitle), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(AppStyle::system(kTitleSize, QFont::Bold));
    header->addWidget(title);
    header->addStretch(1);
    m_close->setAutoRaise(true);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setIcon(AppSymbols::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(this)));
    m_close->setAccessibleName(QStringLiteral("Close"));
    connect(m_close, &QToolButton::clicked, this, &QDialog::reject);
    header->addWidget(m_close);
    layout->addLayout(header);
    layout->addSpacing(kHeaderGap);

    // Only the lists scroll; the header with the close button stays.
    auto *scroll = new QScrollArea(this);
    AppStyle::makeVerticalScroll(scroll);
    auto *content = new QWidget(scroll);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kSectionGap);
    column->addWidget(section(QString::fromUtf8(kTextSection), textShortcuts()));
    column->addWidget(section(QString::fromUtf8(kAppSection), appShortcuts()));
    column->addStretch(1);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);
}

QWidget *ShortcutsSheet::section(const QString &title, const std::vector<Shortcut> &rows)
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("section"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kRowGap);
    auto *heading = new QLabel(title, box);
    heading->setObjectName(QStringLiteral("sectionTitle"));
    heading->setFont(AppStyle::headline());
    column->addWidget(heading);

    QFont mono = AppStyle::callout();
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    QColor tint = AppStyle::secondary(this);
    tint.setAlphaF(0.12);
    for (const auto &shortcut : rows) {
        auto *line = new QHBoxLayout;
        auto *action = new QLabel(shortcut.action, box);
        action->setObjectName(QStringLiteral("action"));
        action->setFont(AppStyle::callout());
        auto *keys = new QLabel(shortcut.keys, box);
        keys->setObjectName(QStringLiteral("keys"));
        keys->setFont(mono);
        keys->setStyleSheet(
            QStringLiteral("background: %1; border-radius: 5px; padding: 3px 8px;").arg(AppStyle::css(tint)));
        line->addWidget(action);
        line->addStretch(1);
        line->addWidget(keys);
        column->addLayout(line);
    }
    return box;
}
