#pragma once

#include <rapidjson/document.h>

// A reply whose content the caller does not need: any well-formed JSON body is accepted.
struct EmptyReply {
    static EmptyReply fromJson(const rapidjson::Value &) { return {}; }
};
