#pragma once

#include <QString>

#include <optional>

// The user-facing sentence of a service error body: the string member "error" of a JSON object,
// exactly as sent (an empty string included). Anything else, unparsable text too, gives nothing.
std::optional<QString> errorMessage(const std::optional<QString> &fromBody);
