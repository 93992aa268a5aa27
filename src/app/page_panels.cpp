#include "app/page_panels.h"

#include "collab/ai_panel.h"
#include "collab/comments_panel.h"
#include "collab/comments_panel_model.h"
#include "collab/suggestions_panel.h"
#include "editor/page_view_model.h"
#include "store/local_store.h"
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
    case MainView::PagePanel::comments: {
        auto *panel = new CommentsPanel(*context.client, pageServerID, [model] {
            if (model)
                model->setShowComments(false);
        });
        // "Post" follows the page's server id, which comes with a sync while the panel is open.
        if (context.store) {
            CommentsPanelModel *comments = &panel->model();
            const QString pageLocalID = page.pageLocalID();
            QObject::connect(context.store, &LocalStore::pageChanged, comments,
                             [comments, pageLocalID](const QString &localID) {
                                 if (localID == pageLocalID)
                                     comments->pageChanged();
                             });
            QObject::connect(context.store, &LocalStore::recordsChanged, comments,
                             &CommentsPanelModel::pageChanged);
            QObject::connect(context.store, &LocalStore::batchApplied, comments,
                             [comments, pageLocalID](const BatchChange &change) {
                                 if (change.touchesPage(pageLocalID))
                                     comments->pageChanged();
                             });
        }
        return panel;
    }
    case MainView::PagePanel::suggestions:
        return new SuggestionsPanel(*context.client, context.syncEngine, pageServerID, [model] {
            if (model)
                model->setShowSuggestions(false);
        });
    case MainView::PagePanel::ai: {
        auto *panel = new AIPanel(*context.client, pageServerID, page.aiSeedPrompt(),
                                  {context.clipboard, context.urlOpener}, [model] {
                                      if (model)
                                          model->setShowAI(false);
                                  });
        QObject::connect(&page, &PageViewModel::aiPromptSeeded, panel,
                         [panel, &page] { panel->applySeedPrompt(page.aiSeedPrompt()); });
        return panel;
    }
    }
    return nullptr;
}
