#include "support/collab_steps.h"
#include "support/journey.h"

#include "collab/comments_panel.h"
#include "collab/inline_comment_form.h"
#include "collab/share_sheet.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"

#include <QApplication>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

namespace journey {

QStringList shownTexts(PageView *view)
{
    QStringList out;
    for (BlockRow *row : journey::rowsAsDrawn(view))
        out << (row->richEditor() ? row->richEditor()->toRawText() : QString());
    return out;
}

QStringList storedTexts(FakeService &fake, qint64 pageId)
{
    QStringList out;
    for (const FakeServiceState::Block &block : fake.storedBlocks(pageId))
        out << FakeService::stringField(block.content, QStringLiteral("text"));
    return out;
}

QStringList labelsIn(QWidget *root)
{
    QStringList out;
    if (!root)
        return out;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root->window()) && !label->text().isEmpty())
            out << label->text();
    }
    return out;
}

QString labelNamed(QWidget *root, const QString &name)
{
    QLabel *label = root ? root->findChild<QLabel *>(name) : nullptr;
    return label ? label->text() : QString();
}

QStringList commentCards(CommentsPanel *panel)
{
    QStringList out;
    if (!panel)
        return out;
    for (QWidget *card : panel->cards()) {
        const QString context = labelNamed(card, QStringLiteral("context"));
        out << labelNamed(card, QStringLiteral("author")) + QStringLiteral(": ") +
                   (context.isEmpty() ? QString() : context + QStringLiteral(" | ")) +
                   labelNamed(card, QStringLiteral("body"));
    }
    return out;
}

QStringList sharePeople(ShareSheet *sheet)
{
    QStringList out;
    if (!sheet || !sheet->peopleList())
        return out;
    for (QLabel *chip : sheet->peopleList()->findChildren<QLabel *>(QStringLiteral("roleChip"))) {
        QStringList texts;
        for (QLabel *label : chip->parentWidget()->findChildren<QLabel *>()) {
            if (label != chip)
                texts << label->text();
        }
        out << texts.join(QStringLiteral(" / ")) + QStringLiteral(" / ") + chip->text();
    }
    return out;
}

QToolButton *removeButtonFor(ShareSheet *sheet, const QString &email)
{
    for (QLabel *chip : sheet->peopleList()->findChildren<QLabel *>(QStringLiteral("roleChip"))) {
        QWidget *row = chip->parentWidget();
        const QStringList texts = labelsIn(row);
        if (!texts.contains(email))
            continue;
        for (QToolButton *button : row->findChildren<QToolButton *>()) {
            if (button->toolTip() == QLatin1String("Remove"))
                return button;
        }
    }
    return nullptr;
}

InlineCommentForm *openCommentForm()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        if (auto *form = top->findChild<InlineCommentForm *>(); form && form->isVisible())
            return form;
    }
    return nullptr;
}

} // namespace journey
