#include "editor/block_row_comment.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "collab/comments_panel_model.h"
#include "collab/inline_comment_form.h"
#include "editor/block_row.h"
#include "editor/block_row_model.h"
#include "platform/diag.h"

namespace {

InlineCommentForm::State formState(const BlockRowModel &model)
{
    return {model.commentSelectionText, model.inlineCommentText, model.inlineCommentSending,
            model.currentBlock().serverID != 0};
}

} // namespace

void BlockRowModel::setInlineCommentText(const QString &text)
{
    if (inlineCommentText == text)
        return;
    inlineCommentText = text;
    Q_EMIT inlineCommentChanged();
}

void BlockRowModel::cancelInlineComment()
{
    setShowInlineComment(false);
    setInlineCommentText(QString());
}

QCoro::Task<> BlockRowModel::postInlineComment(ServiceClient &client)
{
    const FNBlock block = currentBlock();
    if (!client.isSignedIn() || block.serverID == 0 || block.pageServerID == 0)
        co_return;
    inlineCommentSending = true;
    Q_EMIT inlineCommentChanged();

    CommentCreateReq body;
    body.page_id = block.pageServerID;
    body.block_id = block.serverID;
    body.body = CommentsPanelModel::trimmedBody(inlineCommentText);
    body.selection_start = commentSelectionStart;
    body.selection_length = commentSelectionLength;
    body.selection_text = commentSelectionText;
    // The row may go while the post is out; the comment still reaches the service.
    QPointer<BlockRowModel> self(this);
    bool posted = false;
    try {
        co_await client.createComment(std::move(body));
        posted = true;
    } catch (const std::exception &error) {
        diag(QStringLiteral("inline comment post failed: ") + APIError::messageOf(error));
    }
    if (!self)
        co_return;
    if (posted) {
        setBlockCommentCount(m_blockCommentCount + 1);
        inlineCommentText.clear();
        setShowInlineComment(false);
    }
    inlineCommentSending = false;
    Q_EMIT inlineCommentChanged();
}

void installInlineComments(BlockRow &row, ServiceClient &client)
{
    row.setInlineCommentContent([&client](BlockRow &target) -> QWidget * {
        BlockRowModel &model = target.model();
        auto *form = new InlineCommentForm(formState(model));
        QObject::connect(&model, &BlockRowModel::inlineCommentChanged, form,
                         [form, &model] { form->setState(formState(model)); });
        QObject::connect(form, &InlineCommentForm::textEdited, &model, &BlockRowModel::setInlineCommentText);
        QObject::connect(form, &InlineCommentForm::cancelClicked, &model,
                         &BlockRowModel::cancelInlineComment);
        QObject::connect(form, &InlineCommentForm::postClicked, &model,
                         [&model, &client] { model.postInlineComment(client); });
        return form;
    });
}
