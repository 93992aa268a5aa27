#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The bytes as text, or nothing when they are not valid UTF-8.
std::optional<QString> decodeUtf8Strict(const QByteArray &bytes);
