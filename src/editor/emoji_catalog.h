#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The fixed catalogue of the icon picker: nine named categories of emoji with their search keywords.
namespace EmojiCatalog {

struct Item {
    QString emoji;        // the exact code points, variation selectors included
    QStringList keywords; // lower case
};

struct Category {
    QString name;
    std::vector<Item> emojis;
};

// Built once on first use; never changes at run time.
const std::vector<Category> &categories();

} // namespace EmojiCatalog
