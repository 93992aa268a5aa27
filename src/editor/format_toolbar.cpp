#include "editor/format_toolbar.h"

#include "ui/editor_symbols.h"
#include "ui/painted_shadow.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QToolButton>

namespace {

constexpr int kButtonWidth = 26;
constexpr int kButtonHeight = 22;
constexpr int kSymbolSize = 13;
constexpr int kDividerHeight = 14;

} // namespace

FormatToolbar::FormatToolbar(WrapAction onWrap, Action onLink, Action onIndent, Action onOutdent,
                             QWidget *parent)
    : QFrame(parent)
    , m_onWrap(std::move(onWrap))
    , m_onLink(std::move(onLink))
    , m_onIndent(std::move(onIndent))
    , m_onOutdent(std::move(onOutdent))
{
    setObjectName(QStringLiteral("formatToolbar"));
    setStyleSheet(QStringLiteral("#formatToolbar { background: palette(window); border-radius: 6px; }"));
    if (parent)
        new PaintedShadow(this, 6, 4, QPoint(0, 2), QColor(0, 0, 0, int(0.12 * 255)));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 6, 3);
    row->setSpacing(2);

    const auto wrap = [this](const char *marker) {
        return [this, marker] { m_onWrap(QString::fromLatin1(marker), QString::fromLatin1(marker)); };
    };
    addButton(QStringLiteral("bold"), tooltip(QStringLiteral("Bold"), QKeySequence(Qt::CTRL | Qt::Key_B)),
              wrap("**"));
    addButton(QStringLiteral("italic"), tooltip(QStringLiteral("Italic"), QKeySequence(Qt::CTRL | Qt::Key_I)),
              wrap("*"));
    addButton(QStringLiteral("underline"),
              tooltip(QStringLiteral("Underline"), QKeySequence(Qt::CTRL | Qt::Key_U)), wrap("__"));
    addButton(QStringLiteral("strikethrough"), QStringLiteral("Strikethrough"), wrap("~~"));
    addButton(QStringLiteral("chevron.left.forwardslash.chevron.right"), QStringLiteral("Inline code"),
              wrap("`"));
    addDivider();
    addButton(QStringLiteral("link"), tooltip(QStringLiteral("Link"), QKeySequence(Qt::CTRL | Qt::Key_K)),
              [this] { m_onLink(); });
    addDivider();
    addButton(QStringLiteral("decrease.indent"),
              tooltip(QStringLiteral("Outdent"), QKeySequence(Qt::SHIFT | Qt::Key_Tab)),
              [this] { m_onOutdent(); });
    addButton(QStringLiteral("increase.indent"), tooltip(QStringLiteral("Indent"), QKeySequence(Qt::Key_Tab)),
              [this] { m_onIndent(); });
}

QString FormatToolbar::tooltip(const QString &label, const QKeySequence &shortcut)
{
    return QStringLiteral("%1 (%2)").arg(label, shortcut.toString(QKeySequence::NativeText));
}

QToolButton *FormatToolbar::addButton(const QString &symbol, const QString &tip, Action action)
{
    auto *button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(kButtonWidth, kButtonHeight);
    button->setIconSize(QSize(kSymbolSize, kSymbolSize));
    button->setToolTip(tip);
    EditorSymbols::apply(*button, symbol);
    QFont font = button->font();
    font.setPixelSize(kSymbolSize);
    if (symbol == QLatin1String("bold"))
        font.setBold(true);
    else if (symbol == QLatin1String("italic"))
        font.setItalic(true);
    else if (symbol == QLatin1String("underline"))
        font.setUnderline(true);
    else if (symbol == QLatin1String("strikethrough"))
        font.setStrikeOut(true);
    button->setFont(font);
    connect(button, &QToolButton::clicked, this, [action = std::move(action)] { action(); });
    layout()->addWidget(button);
    m_buttons.append(button);
    return button;
}

void FormatToolbar::addDivider()
{
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(kDividerHeight);
    auto *holder = qobject_cast<QHBoxLayout *>(layout());
    holder->addSpacing(4);
    holder->addWidget(line);
    holder->addSpacing(4);
}
