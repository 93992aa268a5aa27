#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// One block of a page template: its kind and its content JSON, both as text.
struct TemplateBlock {
    QString type;
    QString contentJSON;

    static TemplateBlock fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const TemplateBlock &, const TemplateBlock &) = default;
};

size_t qHash(const TemplateBlock &v, size_t seed = 0) noexcept;
