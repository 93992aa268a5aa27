#pragma once

#include "store/fn_page.h"

#include <QString>

#include <optional>
#include <vector>

class LocalStore;
struct StoreState;

// The quick switcher without a window: the query, the matching pages (most recently changed first,
// at most 50) and the highlighted row. The results are worked out from the store at each use, so
// they follow its changes while the switcher is open.
class QuickSwitcherModel
{
public:
    static constexpr size_t kMaxResults = 50;

    explicit QuickSwitcherModel(const LocalStore &store);

    // Trimmed of spaces and tabs (not line breaks), lower-cased, canonically composed.
    static QString normalizedQuery(const QString &query);
    static std::vector<FNPage> results(const StoreState &state, const QString &query);

    std::vector<FNPage> results() const;
    const QString &query() const { return m_query; }
    // Every change of the query returns the highlight to the first row.
    void setQuery(const QString &query);
    int highlighted() const { return m_highlighted; }
    // One row down or up, stopping at the ends; nothing without results.
    void moveDown();
    void moveUp();
    // The highlighted page, when the highlight still names a row.
    std::optional<FNPage> pick() const;
    // The line shown instead of rows when nothing matches.
    QString emptyMessage() const;

private:
    const LocalStore &m_store;
    QString m_query;
    int m_highlighted = 0;
};
