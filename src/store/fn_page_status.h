#pragma once

#include "json/json_fields.h"

// The publish and share badges of one page.
struct FNPageStatus {
    bool published = false;
    qint64 sharedCount = 0;

    static constexpr std::tuple kFields{
        json::Field{"published", &FNPageStatus::published},
        json::Field{"sharedCount", &FNPageStatus::sharedCount},
    };
};
