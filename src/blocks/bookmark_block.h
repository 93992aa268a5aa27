#pragma once

#include "json/json_value.h"

#include <QCoroTask>
#include <QString>

#include <optional>

class BlockHost;
class BlockView;

// A bookmark: an address and the preview the service found for it.
namespace BookmarkBlock {

struct Content {
    QString url;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> image;

    static Content read(const JSONObject &content);
    // The preview's keys only when present.
    void write(JSONObject &content) const;
    static void dropPreview(JSONObject &content);
};

// Stores "url" (a different address drops the old preview's keys in the same write), then fetches
// the preview. Nothing while signed out.
void resolve(BlockHost &host, const QString &url);
// The fetch through the row's client; it outlives the row.
QCoro::Task<> fetchPreview(BlockHost &host, QString url);

BlockView *makeView(BlockHost &host);

} // namespace BookmarkBlock
