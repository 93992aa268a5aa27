#pragma once

#include "json/json_fields.h"
#include "store/template_block.h"

#include <QString>

#include <vector>

// A named snapshot of a page's title, icon and blocks from which new pages are made.
struct PageTemplate {
    QString id; // a UUID text, made by whoever creates the template
    QString name;
    QString title;
    QString icon;
    std::vector<TemplateBlock> blocks;

    // Every key is required, "id" included.
    static constexpr std::tuple kFields{
        json::Field{"id", &PageTemplate::id},         json::Field{"name", &PageTemplate::name},
        json::Field{"title", &PageTemplate::title},   json::Field{"icon", &PageTemplate::icon},
        json::Field{"blocks", &PageTemplate::blocks},
    };
};
