#include "app/page_sheets.h"

#include "collab/publish_sheet.h"
#include "collab/share_sheet.h"
#include "collab/version_history_sheet.h"
#include "editor/page_view_model.h"

QDialog *makePageSheet(const AppContext &context, PageViewModel &page, MainView::PageSheet kind)
{
    const std::optional<FNPage> record = page.page();
    if (!record)
        return nullptr;
    switch (kind) {
    case MainView::PageSheet::history:
        return new VersionHistorySheet(context, *record);
    case MainView::PageSheet::publish:
        return new PublishSheet(context, *record);
    case MainView::PageSheet::share:
        return new ShareSheet(context, *record);
    }
    return nullptr;
}
