#pragma once

#include "json/json_writer.h"
#include "store/template_block.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// A named snapshot of a page's title, icon and blocks from which new pages are made.
struct PageTemplate {
    QString id; // a UUID text, made by whoever creates the template
    QString name;
    QString title;
    QString icon;
    std::vector<TemplateBlock> blocks;

    // Every key is required, "id" included.
    static PageTemplate fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const PageTemplate &, const PageTemplate &) = default;
};

size_t qHash(const PageTemplate &v, size_t seed = 0) noexcept;
