#include "app/quick_switcher_model.h"

#include "store/local_store.h"

#include <algorithm>

namespace {

// The space separators and the tab; line breaks are kept.
bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString folded(const QString &text)
{
    // Composed before and after lower-casing, so canonically equivalent spellings compare equal.
    return text.normalized(QString::NormalizationForm_C).toLower().normalized(QString::NormalizationForm_C);
}

} // namespace

QuickSwitcherModel::QuickSwitcherModel(const LocalStore &store)
    : m_store(store)
{
}

QString QuickSwitcherModel::normalizedQuery(const QString &query)
{
    qsizetype start = 0;
    qsizetype end = query.size();
    while (start < end && isBlank(query.at(start)))
        ++start;
    while (end > start && isBlank(query.at(end - 1)))
        --end;
    return folded(query.mid(start, end - start));
}

std::vector<FNPage> QuickSwitcherModel::results(const StoreState &state, const QString &query)
{
    const QString needle = normalizedQuery(query);
    std::vector<FNPage> matches;
    for (const auto &page : state.pages) {
        if (page.deletedAt)
            continue;
        if (!needle.isEmpty()) {
            const QString text = folded(page.title.isEmpty() ? QStringLiteral("untitled") : page.title);
            if (!text.contains(needle))
                continue;
        }
        matches.push_back(page);
    }
    std::stable_sort(matches.begin(), matches.end(),
                     [](const FNPage &a, const FNPage &b) { return a.updatedAt > b.updatedAt; });
    if (matches.size() > kMaxResults)
        matches.resize(kMaxResults);
    return matches;
}

std::vector<FNPage> QuickSwitcherModel::results() const
{
    return results(m_store.state(), m_query);
}

void QuickSwitcherModel::setQuery(const QString &query)
{
    m_query = query;
    m_highlighted = 0;
}

void QuickSwitcherModel::moveDown()
{
    const int count = int(results().size());
    if (count == 0)
        return;
    m_highlighted = std::max(std::min(m_highlighted + 1, count - 1), 0);
}

void QuickSwitcherModel::moveUp()
{
    const int count = int(results().size());
    if (count == 0)
        return;
    m_highlighted = std::clamp(m_highlighted - 1, 0, count - 1);
}

std::optional<FNPage> QuickSwitcherModel::pick() const
{
    const auto list = results();
    if (m_highlighted < 0 || size_t(m_highlighted) >= list.size())
        return std::nullopt;
    return list[size_t(m_highlighted)];
}

QString QuickSwitcherModel::emptyMessage() const
{
    if (m_query.isEmpty())
        return QStringLiteral("No pages yet.");
    return QStringLiteral("No pages match “") + m_query + QStringLiteral("”.");
}
