#include "blocks/button_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "platform/app_events.h"
#include "platform/url_opener.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"
#include "ui/toast_center.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kLabelKey = QStringLiteral("label");
const QString kActionKey = QStringLiteral("action");
const QString kTargetKey = QStringLiteral("target");

constexpr auto kEditTip = "Edit button";
constexpr auto kLabelPlaceholder = "Button label";
constexpr auto kActionTitle = "Action";
constexpr auto kURLPlaceholder = "URL";
constexpr auto kPromptPlaceholder = "Prompt text";
constexpr auto kCancel = "Cancel";
constexpr auto kSave = "Save";

bool is(const QString &action, const char *id)
{
    return action == QLatin1String(id);
}

} // namespace

namespace ButtonBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kLabelKey),
            BlockContent::readString(content, kActionKey, QString::fromLatin1(kOpenURL)),
            BlockContent::readString(content, kTargetKey)};
}

void Content::write(JSONObject &content) const
{
    content[kLabelKey] = label;
    content[kActionKey] = action;
    content[kTargetKey] = target;
}

const std::array<Action, 3> &actions()
{
    static const std::array<Action, 3> list{
        {{kOpenURL, "Open URL"}, {kAIPrompt, "Ask AI"}, {kNothing, "Nothing"}}};
    return list;
}

QString shownLabel(const Content &content)
{
    return content.label.isEmpty() ? QString::fromLatin1(kClickMe) : content.label;
}

bool isEnabled(const Content &content)
{
    const bool needsTarget = is(content.action, kOpenURL) || is(content.action, kAIPrompt);
    return !needsTarget || !content.target.isEmpty();
}

std::optional<QUrl> openableURL(const QString &target)
{
    const QUrl url(target, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || !UrlOpener::isAllowed(url))
        return std::nullopt;
    return url;
}

void perform(const Content &content, const BlockServices &services)
{
    if (is(content.action, kOpenURL)) {
        const std::optional<QUrl> url = openableURL(content.target);
        if (!url) {
            if (services.toasts)
                services.toasts->show(QString::fromLatin1(kInvalidURL));
            return;
        }
        if (services.urlOpener)
            services.urlOpener->openUrl(*url);
    } else if (is(content.action, kAIPrompt)) {
        if (services.events)
            services.events->postRunAIPrompt(content.target);
    }
}

BlockView *makeView(BlockHost &host)
{
    return new ButtonBlockView(host);
}

} // namespace ButtonBlock

ButtonBlockView::ButtonBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::button, parent)
{
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(6);

    auto *line = new QHBoxLayout;
    line->setSpacing(6);
    m_button = new QPushButton;
    AppStyle::makeProminent(m_button);
    m_button->setStyleSheet(m_button->styleSheet().replace(QStringLiteral("padding: 6px 14px;"),
                                                           QStringLiteral("padding: 8px 16px;")));
    connect(m_button, &QPushButton::clicked, this, [this] {
        ButtonBlock::perform(this->host().read<ButtonBlock::Content>(), this->host().services());
    });
    m_edit = new QToolButton;
    m_edit->setAutoRaise(true);
    m_edit->setToolTip(QString::fromLatin1(kEditTip));
    m_edit->setCursor(Qt::PointingHandCursor);
    EditorSymbols::apply(*m_edit, QStringLiteral("pencil"));
    connect(m_edit, &QToolButton::clicked, this, &ButtonBlockView::openEditor);
    line->addWidget(m_button);
    line->addWidget(m_edit);
    line->addStretch(1);
    column->addLayout(line);

    m_editor = new QFrame;
    m_editor->setObjectName(QStringLiteral("buttonEditor"));
    QColor faint = AppStyle::secondary(this);
    faint.setAlphaF(0.07);
    m_editor->setStyleSheet(
        QStringLiteral("#buttonEditor { background: %1; border-radius: 6px; }").arg(AppStyle::css(faint)));
    auto *form = new QVBoxLayout(m_editor);
    form->setContentsMargins(10, 10, 10, 10);
    form->setSpacing(8);
    m_labelField = new QLineEdit;
    m_labelField->setPlaceholderText(QString::fromLatin1(kLabelPlaceholder));
    form->addWidget(m_labelField);
    auto *pickerLine = new QHBoxLayout;
    pickerLine->addWidget(new QLabel(QString::fromLatin1(kActionTitle)));
    m_actionPicker = new QComboBox;
    for (const ButtonBlock::Action &action : ButtonBlock::actions())
        m_actionPicker->addItem(QString::fromLatin1(action.label), QString::fromLatin1(action.id));
    connect(m_actionPicker, &QComboBox::activated, this, [this](int index) {
        m_draftAction = m_actionPicker->itemData(index).toString();
        updateTargetPlaceholder();
    });
    pickerLine->addWidget(m_actionPicker, 1);
    form->addLayout(pickerLine);
    m_targetField = new QLineEdit;
    form->addWidget(m_targetField);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QString::fromLatin1(kCancel));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &ButtonBlockView::closeEditor);
    m_save = new QPushButton(QString::fromLatin1(kSave));
    AppStyle::makeProminent(m_save);
    connect(m_save, &QPushButton::clicked, this, &ButtonBlockView::save);
    // Return in a field saves, as the prominent button promises.
    connect(m_labelField, &QLineEdit::returnPressed, this, &ButtonBlockView::save);
    connect(m_targetField, &QLineEdit::returnPressed, this, &ButtonBlockView::save);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    form->addLayout(buttons);
    m_editor->hide();
    column->addWidget(m_editor);

    setBody(body);
    refresh();
}

namespace {

// The field shows `stored` unless it holds typing of its own (it differs from what it was given,
// `given`, which then follows); the caret keeps its place.
void follow(QLineEdit &field, QString &given, const QString &stored)
{
    if (field.text() != given || stored == given)
        return;
    given = stored;
    const int caret = field.cursorPosition();
    field.setText(stored);
    field.setCursorPosition(caret);
}

QString draftAction(const ButtonBlock::Content &content)
{
    return content.action.isEmpty() ? QString::fromLatin1(ButtonBlock::kOpenURL) : content.action;
}

} // namespace

void ButtonBlockView::refresh()
{
    const auto content = host().read<ButtonBlock::Content>();
    m_button->setText(ShownText::mnemonicSafe(ButtonBlock::shownLabel(content)));
    m_button->setEnabled(ButtonBlock::isEnabled(content));
    if (!isEditing())
        return;
    // An open editor takes another device's values into the fields the user has not changed; the
    // ones they did change are theirs, and "Save" writes them over.
    follow(*m_labelField, m_given.label, content.label);
    follow(*m_targetField, m_given.target, content.target);
    if (m_draftAction == m_given.action && draftAction(content) != m_draftAction) {
        m_given.action = m_draftAction = draftAction(content);
        m_actionPicker->setCurrentIndex(m_actionPicker->findData(m_draftAction));
        updateTargetPlaceholder();
    }
}

bool ButtonBlockView::isEditing() const
{
    return m_editor && !m_editor->isHidden();
}

void ButtonBlockView::openEditor()
{
    const auto content = host().read<ButtonBlock::Content>();
    m_labelField->setText(content.label);
    m_draftAction = draftAction(content);
    m_actionPicker->setCurrentIndex(m_actionPicker->findData(m_draftAction));
    m_targetField->setText(content.target);
    m_given = {content.label, m_draftAction, content.target};
    updateTargetPlaceholder();
    m_editor->show();
    m_labelField->setFocus(Qt::OtherFocusReason);
    m_labelField->selectAll();
}

QWidget *ButtonBlockView::entryWidget() const
{
    return m_labelField;
}

bool ButtonBlockView::takeEntry()
{
    openEditor();
    return true;
}

void ButtonBlockView::closeEditor()
{
    const bool hadFocus = m_editor->isAncestorOf(QApplication::focusWidget());
    m_editor->hide();
    if (hadFocus)
        m_edit->setFocus(Qt::OtherFocusReason);
}

void ButtonBlockView::save()
{
    // Stored exactly as typed, all three keys in one write.
    host().write(ButtonBlock::Content{m_labelField->text(), m_draftAction, m_targetField->text()});
    closeEditor();
}

void ButtonBlockView::updateTargetPlaceholder()
{
    m_targetField->setPlaceholderText(QString::fromLatin1(
        m_draftAction == QLatin1String(ButtonBlock::kAIPrompt) ? kPromptPlaceholder : kURLPlaceholder));
}
