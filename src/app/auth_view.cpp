#include "app/auth_view.h"

#include "ui/app_style.h"
#include "ui/busy_indicator.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Penroost Derud");
const QString kLoginSegment = QStringLiteral("Log in");
const QString kSignupSegment = QStringLiteral("Sign up");
const QString kNamePlaceholder = QStringLiteral("Your name");
const QString kEmailPlaceholder = QStringLiteral("Email");
const QString kPasswordPlaceholder = QStringLiteral("Password");
const QString kForgotPassword = QStringLiteral("Forgot password?");

constexpr int kSpacing = 18;
constexpr int kStandardPadding = 16;
constexpr int kTitleTop = 60;
constexpr int kFieldSpacing = 12;
// The standard small indicator scaled to 0.8.
constexpr int kBusySize = 13;
const QColor kErrorRed{255, 59, 48};

QVBoxLayout *padded(QVBoxLayout *parent, int left, int top, int right, int bottom)
{
    auto *box = new QVBoxLayout;
    box->setContentsMargins(left, top, right, bottom);
    box->setSpacing(kFieldSpacing);
    parent->addLayout(box);
    return box;
}

QString segmentSheet(const QWidget *widget)
{
    QColor track = widget->palette().color(QPalette::WindowText);
    track.setAlphaF(0.08);
    const QColor selected = widget->palette().color(QPalette::Base);
    return QStringLiteral("QPushButton { background: %1; border: none; padding: 4px 14px; }"
                          "QPushButton:checked { background: %2; border-radius: 5px; }"
                          "#loginSegment { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }"
                          "#signupSegment { border-top-right-radius: 6px; border-bottom-right-radius: 6px; }")
        .arg(AppStyle::css(track), AppStyle::css(selected));
}

} // namespace

AuthView::AuthView(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_form(context)
    , m_subtitle(new QLabel)
    , m_loginSegment(new QPushButton(kLoginSegment))
    , m_signupSegment(new QPushButton(kSignupSegment))
    , m_name(new QLineEdit)
    , m_email(new QLineEdit)
    , m_password(new QLineEdit)
    , m_error(new QLabel)
    , m_submit(new QPushButton)
    , m_forgot(new QPushButton(kForgotPassword))
    , m_host(new QLabel(m_form.serviceHost()))
    , m_busy(new BusyIndicator(kBusySize, this))
    , m_renderedMode(m_form.mode())
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    AppStyle::makeVerticalScroll(scroll);
    outer->addWidget(scroll);

    auto *page = new QWidget;
    auto *centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    auto *columnWidget = new QWidget;
    columnWidget->setMaximumWidth(kMaxWidth);
    centring->addStretch(1);
    centring->addWidget(columnWidget, 100);
    centring->addStretch(1);
    scroll->setWidget(page);

    auto *column = new QVBoxLayout(columnWidget);
    column->setContentsMargins(kStandardPadding, kStandardPadding + kTitleTop, kStandardPadding,
                               kStandardPadding);
    column->setSpacing(kSpacing);

    auto *title = new QLabel(kTitle);
    title->setFont(AppStyle::system(32, QFont::Bold));
    column->addWidget(title, 0, Qt::AlignHCenter);

    m_subtitle->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    column->addWidget(m_subtitle, 0, Qt::AlignHCenter);

    // The mode picker: two exclusive segments.
    auto *segments = new QWidget;
    auto *segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    m_loginSegment->setObjectName(QStringLiteral("loginSegment"));
    m_signupSegment->setObjectName(QStringLiteral("signupSegment"));
    auto *group = new QButtonGroup(this);
    for (QPushButton *segment : {m_loginSegment, m_signupSegment}) {
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(segment);
        segmentRow->addWidget(segment);
    }
    segments->setStyleSheet(segmentSheet(this));
    padded(column, kStandardPadding, 8, kStandardPadding, 0)->addWidget(segments);
    connect(m_loginSegment, &QPushButton::clicked, this, [this] { m_form.setMode(Mode::login); });
    connect(m_signupSegment, &QPushButton::clicked, this, [this] { m_form.setMode(Mode::signup); });

    m_name->setPlaceholderText(kNamePlaceholder);
    m_email->setPlaceholderText(kEmailPlaceholder);
    m_email->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    m_password->setPlaceholderText(kPasswordPlaceholder);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    auto *fields = padded(column, kStandardPadding, 0, kStandardPadding, 0);
    fields->addWidget(m_name);
    fields->addWidget(m_email);
    fields->addWidget(m_password);
    connect(m_name, &QLineEdit::textChanged, &m_form, &AuthForm::setName);
    connect(m_email, &QLineEdit::textChanged, &m_form, &AuthForm::setEmail);
    connect(m_password, &QLineEdit::textChanged, &m_form, &AuthForm::setPassword);
    // Return in any field sends the form as the button would (the form ignores it while busy).
    for (QLineEdit *field : {m_name, m_email, m_password})
        connect(field, &QLineEdit::returnPressed, &m_form, &AuthForm::submit);

    m_error->setFont(AppStyle::callout());
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // An empty message still takes its line.
    m_error->setMinimumHeight(QFontMetrics(m_error->font()).height());
    m_error->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(kErrorRed)));
    padded(column, kStandardPadding, 0, kStandardPadding, 0)->addWidget(m_error);

    AppStyle::makeProminent(m_submit);
    m_submit->setIconSize(QSize(kBusySize, kBusySize));
    padded(column, kStandardPadding, 0, kStandardPadding, 0)->addWidget(m_submit);
    connect(m_submit, &QPushButton::clicked, &m_form, &AuthForm::submit);

    QFont linkFont = AppStyle::callout();
    m_forgot->setFont(linkFont);
    m_forgot->setFlat(true);
    m_forgot->setCursor(Qt::PointingHandCursor);
    m_forgot->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; background: transparent; "
                                           "padding: 4px 0 0 0; }")
                                .arg(AppStyle::css(AppStyle::accent(this))));
    column->addWidget(m_forgot, 0, Qt::AlignHCenter);
    connect(m_forgot, &QPushButton::clicked, &m_form, &AuthForm::openForgotPassword);

    m_host->setFont(AppStyle::caption());
    m_host->setContentsMargins(0, 20, 0, 0);
    m_host->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    column->addWidget(m_host, 0, Qt::AlignHCenter);
    column->addStretch(1);

    setTabOrder(m_name, m_email);
    setTabOrder(m_email, m_password);
    setTabOrder(m_password, m_submit);

    m_busy->setColor(m_submit->palette().color(QPalette::HighlightedText));
    connect(m_busy, &BusyIndicator::frameChanged, this, [this] {
        m_submit->setIcon(m_busy->isRunning() ? m_busy->frame(devicePixelRatioF()) : QIcon());
    });
    connect(&m_form, &AuthForm::changed, this, &AuthView::render);
    render();
}

bool AuthView::isBusyIndicatorShown() const
{
    return m_busy->isRunning() && !m_submit->icon().isNull();
}

void AuthView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        focusFirstEmptyField();
}

void AuthView::focusFirstEmptyField()
{
    for (QLineEdit *field : {m_name, m_email, m_password}) {
        if (field->isVisibleTo(this) && field->text().isEmpty()) {
            field->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    m_password->setFocus(Qt::OtherFocusReason);
}

void AuthView::render()
{
    const Mode mode = m_form.mode();
    m_subtitle->setText(AuthForm::subtitle(mode));
    m_loginSegment->setChecked(mode == Mode::login);
    m_signupSegment->setChecked(mode == Mode::signup);
    m_name->setVisible(AuthForm::showsNameField(mode));
    m_forgot->setVisible(AuthForm::showsForgotPassword(mode));

    const auto &error = m_form.error();
    m_error->setVisible(error.has_value());
    m_error->setText(error.value_or(QString()));

    m_submit->setText(AuthForm::buttonLabel(mode));
    m_submit->setEnabled(!m_form.isSubmitDisabled());
    m_busy->setRunning(m_form.loading());
    // The other tab's fields: its first empty one takes the keys typed next.
    if (mode != m_renderedMode) {
        m_renderedMode = mode;
        if (isVisible())
            focusFirstEmptyField();
    }
}
