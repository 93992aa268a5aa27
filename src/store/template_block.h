#pragma once

#include "json/json_fields.h"

#include <QString>

// One block of a page template: its kind and its content JSON, both as text.
struct TemplateBlock {
    QString type;
    QString contentJSON;

    static constexpr std::tuple kFields{
        json::Field{"type", &TemplateBlock::type},
        json::Field{"contentJSON", &TemplateBlock::contentJSON},
    };
};
