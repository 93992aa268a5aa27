#include "app/page_panels.h"

#include "collab/ai_panel.h"
#include "collab/comments_panel.h"
#include "collab/suggestions_panel.h"
#include "editor/page_view_model.h"
#include "ui/app_context.h"

#include <QPointer>

QWidget *makePagePanel(const AppContext &context, PageViewModel &page, MainView::PagePanel kind)
{
    if (!context.client)
        return nullptr;
    QPointer<PageViewModel> model(&page);
    // The page is read afresh each time: it may reach the service while the panel is open.
    const auto pageServerID = [model]() -> qint64 {
        if (!model)
            return 0;
        const std::optional<FNPage> current = model->page();
        return current ? current->serverID : 0;
    };
    switch (kind) {
    case MainView::PagePanel::comments:
        return new CommentsPanel(*context.client, pageServerID, [model] {
            if (model)
                model->setShowComments(false);
        });
    case MainView::PagePanel::suggestions:
        return new SuggestionsPanel(*context.client, context.syncEngine, pageServerID, [model] {
            if (model)
                model->setShowSuggestions(false);
        });
    case MainView::PagePanel::ai:
        return new AIPanel(*context.client, pageServerID, page.aiSeedPrompt(),
                           {context.clipboard, context.urlOpener}, [model] {
                               if (model)
                                   model->setShowAI(false);
                           });
    }
    return nullptr;
}
