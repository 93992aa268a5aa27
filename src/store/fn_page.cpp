#include "store/fn_page.h"

#include "api/wire/pages.h"

PageCreateReq pageCreateReq(const FNPage &page)
{
    PageCreateReq req;
    req.workspace_id = page.workspaceServerID;
    if (page.parentPageServerID != 0)
        req.parent_page_id = page.parentPageServerID;
    req.title = page.title;
    req.icon = page.icon;
    req.position = page.position;
    return req;
}
