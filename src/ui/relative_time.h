#pragma once

#include <QDateTime>
#include <QString>

// "5 min. ago", "3 days ago", "in 2 hr.": a moment relative to now, in English short units.
namespace RelativeTime {

QString format(const QDateTime &when, const QDateTime &now);

} // namespace RelativeTime
