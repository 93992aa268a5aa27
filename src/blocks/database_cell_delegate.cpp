#include "blocks/database_cell_delegate.h"

#include "api/wire/databases.h"
#include "blocks/database_block.h"
#include "blocks/database_table_model.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QLineEdit>
#include <QPainter>

namespace {

constexpr auto kFilled = "databaseFieldFilled";

QColor faded(QColor color, qreal alpha)
{
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

// The one line a cell shows: line breaks in stored text would stack lines in a row's height.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

} // namespace

DatabaseCellDelegate::DatabaseCellDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

void DatabaseCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    const auto *model = qobject_cast<const DatabaseTableModel *>(index.model());
    if (!model) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const DBColumnDTO &column = model->column(index.column());
    const JSONValue &value = model->value(index);
    const QColor text = option.palette.color(QPalette::Text);
    const QColor accent = option.palette.color(QPalette::Highlight);

    painter->save();
    painter->setClipRect(option.rect);
    switch (DatabaseBlock::editorOf(column.type)) {
    case DatabaseBlock::Editor::checkbox: {
        const bool on = DatabaseBlock::isChecked(value);
        const QRect box(option.rect.left() + kCheckboxPadding,
                        option.rect.center().y() - kCheckboxSize / 2 + 1, kCheckboxSize, kCheckboxSize);
        EditorSymbols::icon(on ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square"),
                            on ? accent : faded(text, 0.55))
            .paint(painter, box);
        break;
    }
    case DatabaseBlock::Editor::select: {
        const QFont font = AppStyle::caption();
        const QFontMetrics metrics(font);
        painter->setFont(font);
        if (value.isString() && !value.toString().isEmpty()) {
            const int room = option.rect.width() - 4 * kPadding;
            const QString label = metrics.elidedText(oneLine(value.toString()), Qt::ElideRight, room);
            const int height = metrics.height() + 6;
            const QRect capsule(option.rect.left() + kPadding, option.rect.center().y() - height / 2 + 1,
                                metrics.horizontalAdvance(label) + 2 * kPadding, height);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(faded(accent, 0.18));
            painter->drawRoundedRect(capsule, height / 2.0, height / 2.0);
            painter->setPen(text);
            painter->drawText(capsule, Qt::AlignCenter, label);
        } else {
            painter->setPen(faded(text, 0.35));
            painter->drawText(option.rect.adjusted(kPadding, 0, -kPadding, 0),
                              Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(DatabaseBlock::kNoValue));
        }
        break;
    }
    case DatabaseBlock::Editor::text: {
        const QFont font = AppStyle::callout();
        const QRect area = option.rect.adjusted(kPadding, 0, -kPadding, 0);
        painter->setFont(font);
        painter->setPen(text);
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(font).elidedText(oneLine(DatabaseBlock::fieldText(value, column.type)),
                                                        Qt::ElideRight, area.width()));
        break;
    }
    }
    // The keyboard's cell, where Space ticks or opens and typing starts a field.
    if (option.state & QStyle::State_HasFocus) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(faded(accent, 0.7), 1.5));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
    }
    painter->restore();
}

QWidget *DatabaseCellDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                            const QModelIndex &index) const
{
    auto *field = new QLineEdit(parent);
    field->setFrame(false);
    field->setFont(AppStyle::callout());
    field->setPlaceholderText(QString());
    // The field's own margin plus this lines its text up with the cell's drawn text.
    field->setTextMargins(kPadding - 2, 0, kPadding - 2, 0);
    field->setAutoFillBackground(true);
    const QPersistentModelIndex cell(index);
    auto *self = const_cast<DatabaseCellDelegate *>(this);
    connect(field, &QLineEdit::textEdited, self, [self, cell](const QString &text) {
        if (cell.isValid())
            Q_EMIT self->textEdited(cell, text);
    });
    m_field = field;
    m_fieldCell = cell;
    return field;
}

void DatabaseCellDelegate::refill(const QModelIndex &index)
{
    if (!m_field || !index.isValid() || m_fieldCell != index)
        return;
    m_field->setText(index.data(Qt::EditRole).toString());
}

void DatabaseCellDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *field = qobject_cast<QLineEdit *>(editor);
    if (!field)
        return;
    // Filled once as it opens: afterwards the text is the user's, and a value read back from it
    // ("1" for "1.") must not replace what they are typing.
    if (field->property(kFilled).toBool())
        return;
    field->setText(index.data(Qt::EditRole).toString());
    field->setProperty(kFilled, true);
}

void DatabaseCellDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                                const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
