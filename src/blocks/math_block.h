#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"
#include "store/debouncer.h"

#include <QPointer>

#include "ui/growing_text_edit.h"

// A LaTeX formula, stored as typed under "latex". It is not typeset here: the published page
// renders it.
namespace MathBlock {

inline constexpr const char *kPlaceholder = "e.g. x = \\frac{-b \\pm \\sqrt{b^2 - 4ac}}{2a}";

QString readLatex(const JSONObject &content); // "" unless a string

BlockView *makeView(BlockHost &host);

} // namespace MathBlock

// The header "LaTeX" / "Rendered on publish" over a monospaced source field that grows from one to
// eight lines. The field's text is handed over once typing pauses; a formula that arrives from
// elsewhere replaces what the field shows unless typing there waits to be handed over.
class MathBlockView : public BlockView
{
    Q_OBJECT
public:
    static constexpr int kMaxLines = 8;

    explicit MathBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    GrowingTextEdit *sourceField() const { return m_field; }
    QWidget *entryWidget() const override;

private:
    void scheduleChange(const QString &text);

    QPointer<GrowingTextEdit> m_field;
    Debouncer m_debouncer;
};
