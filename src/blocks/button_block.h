#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QPointer>
#include <QString>
#include <QUrl>

#include <array>
#include <optional>

class BlockHost;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QToolButton;
struct BlockServices;

// A button: its label, its action and the action's target.
namespace ButtonBlock {

inline constexpr const char *kOpenURL = "open_url";
inline constexpr const char *kAIPrompt = "ai_prompt";
inline constexpr const char *kNothing = "nothing";
inline constexpr const char *kClickMe = "Click me";
inline constexpr const char *kInvalidURL = "This button's URL is invalid.";

struct Content {
    QString label;
    QString action = QString::fromLatin1(kOpenURL);
    QString target;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// One action as the editor lists it.
struct Action {
    const char *id;
    const char *label;
};
// In the editor's order.
const std::array<Action, 3> &actions();

// What the button reads: the label, or "Click me".
QString shownLabel(const Content &content);
// An address or a prompt is needed before the button does anything.
bool isEnabled(const Content &content);
// The address a press opens; none for text that is no address, or one whose scheme could run
// something on this machine (only web and mail addresses open).
std::optional<QUrl> openableURL(const QString &target);
// A press: opens the address, hands the prompt to the AI panel, or does nothing.
void perform(const Content &content, const BlockServices &services);

BlockView *makeView(BlockHost &host);

} // namespace ButtonBlock

// The button with its pencil, and below them while open the editor of label, action and target.
// The editor starts from the stored values each time it opens and follows them while a field is
// as it was given; only "Save" writes.
class ButtonBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit ButtonBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;

    bool isEditing() const;
    void openEditor();

    QPushButton *actionButton() const { return m_button; }
    QToolButton *editButton() const { return m_edit; }
    QLineEdit *labelField() const { return m_labelField; }
    // A button just made is set up first: its editor opens with the label to type.
    QWidget *entryWidget() const override;
    bool takeEntry() override;
    QComboBox *actionPicker() const { return m_actionPicker; }
    QLineEdit *targetField() const { return m_targetField; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *saveButton() const { return m_save; }

private:
    void closeEditor();
    void save();
    void updateTargetPlaceholder();

    QPushButton *m_button;
    QToolButton *m_edit;
    QPointer<QFrame> m_editor;
    QLineEdit *m_labelField;
    QComboBox *m_actionPicker;
    QLineEdit *m_targetField;
    QPushButton *m_cancel;
    QPushButton *m_save;
    // The draft's action: kept as read when the picker shows none (an action another app wrote).
    QString m_draftAction;
    // What the open editor's fields were last given from the store.
    ButtonBlock::Content m_given;
};
