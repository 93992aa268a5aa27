#pragma once

#include "json/json_fields.h"

#include <QString>

#include <optional>

// One block of a page template: its kind and its content JSON, both as text, and the index within
// the template of the block it is nested under. Blocks follow their parents; a template stored by an
// older build has no parents, so all its blocks stand at the top level.
struct TemplateBlock {
    QString type;
    QString contentJSON;
    std::optional<qint64> parent; // left out at the top level

    static constexpr std::tuple kFields{
        json::Field{"type", &TemplateBlock::type},
        json::Field{"contentJSON", &TemplateBlock::contentJSON},
        json::Field{"parent", &TemplateBlock::parent},
    };
};
