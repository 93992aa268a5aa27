#include "ui/toast_overlay.h"

#include "ui/app_style.h"
#include "ui/shown_text.h"
#include "ui/toast_center.h"

#include <QEvent>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTextLayout>

namespace {

// Room around the capsule for its shadow (radius 10, 4 down), which a child widget cannot paint
// outside its own rectangle.
const QMargins kShadowRoom{12, 8, 12, 16};
constexpr int kMaxCapsuleWidth = 560;
constexpr int kSideGap = 20;
constexpr int kHPadding = 18;
constexpr int kVPadding = 12;
constexpr int kItemSpacing = 14;
constexpr int kMaxLines = 2;
const QColor kActionColor = QColor::fromRgbF(0.72f, 0.58f, 0.27f, 1.0f);

} // namespace

ToastOverlay::ToastOverlay(ToastCenter &center, QWidget *host)
    : QWidget(host)
    , m_center(center)
    , m_host(host)
    , m_capsule(new QFrame(this))
    , m_message(new QLabel(m_capsule))
    , m_action(new QPushButton(m_capsule))
    , m_slide(new QPropertyAnimation(this, "pos", this))
{
    setObjectName(QStringLiteral("toastOverlay"));
    m_capsule->setObjectName(QStringLiteral("toastCapsule"));
    m_capsule->setAttribute(Qt::WA_StyledBackground);

    auto *shadow = new QGraphicsDropShadowEffect(m_capsule);
    shadow->setColor(QColor(0, 0, 0, qRound(0.25 * 255)));
    shadow->setBlurRadius(10);
    shadow->setOffset(0, 4);
    m_capsule->setGraphicsEffect(shadow);

    ShownText::plain(m_message); // toasts quote titles, names and the service's words
    m_message->setFont(AppStyle::callout());
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    QFont actionFont = AppStyle::callout();
    actionFont.setWeight(QFont::DemiBold);
    m_action->setFont(actionFont);
    m_action->setFlat(true);
    m_action->setCursor(Qt::PointingHandCursor);
    m_action->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: transparent; border: none; "
                                           "padding: 0; }")
                                .arg(AppStyle::css(kActionColor)));
    connect(m_action, &QPushButton::clicked, this, [this] {
        if (m_shownId)
            m_center.runAction(*m_shownId);
    });

    auto *row = new QHBoxLayout(m_capsule);
    row->setContentsMargins(kHPadding, kVPadding, kHPadding, kVPadding);
    row->setSpacing(kItemSpacing);
    row->addWidget(m_message, 0, Qt::AlignVCenter);
    row->addWidget(m_action, 0, Qt::AlignVCenter);

    connect(m_slide, &QPropertyAnimation::finished, this, [this] {
        if (!m_shownId)
            hide();
    });
    connect(&m_center, &ToastCenter::currentChanged, this, &ToastOverlay::render);
    m_host->installEventFilter(this);

    hide();
    render();
}

QString ToastOverlay::fitToLines(const QString &text, const QFont &font, int width, int lines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<QTextLine> made;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        made.append(line);
        if (made.size() > lines)
            break;
    }
    layout.endLayout();
    if (made.size() <= lines)
        return text;
    const int lastStart = made.at(lines - 1).textStart();
    const QString last =
        QFontMetrics(font).elidedText(text.mid(lastStart).simplified(), Qt::ElideRight, width);
    return text.left(lastStart) + last;
}

bool ToastOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_host && event->type() == QEvent::Resize && m_shownId) {
        layoutCapsule();
        m_slide->stop();
        move(restingPos());
    }
    return QWidget::eventFilter(watched, event);
}

void ToastOverlay::render()
{
    const auto &toast = m_center.current();
    if (!toast) {
        if (m_shownId) {
            m_shownId.reset();
            slideOut();
        }
        return;
    }
    const bool replacing = m_shownId.has_value();
    m_shownId = toast->id;
    m_fullMessage = toast->message;
    m_action->setVisible(toast->actionLabel.has_value());
    m_action->setText(ShownText::mnemonicSafe(toast->actionLabel.value_or(QString())));
    layoutCapsule();
    if (!replacing)
        move(hiddenPos());
    show();
    raise();
    slideIn();
}

void ToastOverlay::layoutCapsule()
{
    const int capsuleMax = qMin(kMaxCapsuleWidth, m_host->width() - 2 * kSideGap);
    int textRoom = capsuleMax - 2 * kHPadding;
    if (m_action->isVisibleTo(m_capsule))
        textRoom -= m_action->sizeHint().width() + kItemSpacing;
    textRoom = qMax(textRoom, 40);

    const QFontMetrics metrics(m_message->font());
    const int natural = metrics.horizontalAdvance(m_fullMessage) + 1;
    const int width = qMin(natural, textRoom);
    m_message->setText(fitToLines(m_fullMessage, m_message->font(), width, kMaxLines));
    m_message->setFixedWidth(width);

    m_capsule->adjustSize();
    const QSize capsule = m_capsule->sizeHint();
    m_capsule->setGeometry(QRect(QPoint(kShadowRoom.left(), kShadowRoom.top()), capsule));
    m_capsule->setStyleSheet(
        QStringLiteral("#toastCapsule { background: rgba(0, 0, 0, %1); border-radius: %2px; }")
            .arg(qRound(0.88 * 255))
            .arg(capsule.height() / 2));
    resize(capsule.grownBy(kShadowRoom));
}

QPoint ToastOverlay::restingPos() const
{
    const int capsuleBottom = m_host->height() - kBottomSpace;
    return {(m_host->width() - width()) / 2, capsuleBottom - kShadowRoom.top() - m_capsule->height()};
}

QPoint ToastOverlay::hiddenPos() const
{
    return {(m_host->width() - width()) / 2, m_host->height()};
}

void ToastOverlay::slideIn()
{
    // A spring of response 0.35 s that barely overshoots.
    m_slide->stop();
    m_slide->setDuration(350);
    QEasingCurve spring(QEasingCurve::OutBack);
    spring.setOvershoot(0.6);
    m_slide->setEasingCurve(spring);
    m_slide->setStartValue(pos());
    m_slide->setEndValue(restingPos());
    m_slide->start();
}

void ToastOverlay::slideOut()
{
    m_slide->stop();
    m_slide->setDuration(200);
    m_slide->setEasingCurve(QEasingCurve::OutCubic);
    m_slide->setStartValue(pos());
    m_slide->setEndValue(hiddenPos());
    m_slide->start();
}
