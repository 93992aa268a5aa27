#include "ui/relative_time.h"

namespace {

constexpr qint64 kMinute = 60;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr qint64 kWeek = 7 * kDay;

QString amount(qint64 seconds)
{
    const auto unit = [](qint64 n, const char *one, const char *many) {
        return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
    };
    if (seconds < kMinute)
        return unit(seconds, "sec.", "sec.");
    if (seconds < kHour)
        return unit(seconds / kMinute, "min.", "min.");
    if (seconds < kDay)
        return unit(seconds / kHour, "hr.", "hr.");
    if (seconds < kWeek)
        return unit(seconds / kDay, "day", "days");
    if (seconds < 30 * kDay)
        return unit(seconds / kWeek, "wk.", "wk.");
    if (seconds < 365 * kDay)
        return unit(seconds / (30 * kDay), "mo.", "mo.");
    return unit(seconds / (365 * kDay), "yr.", "yr.");
}

} // namespace

namespace RelativeTime {

QString format(const QDateTime &when, const QDateTime &now)
{
    const qint64 seconds = when.secsTo(now);
    if (seconds >= 0)
        return amount(seconds) + QStringLiteral(" ago");
    return QStringLiteral("in ") + amount(-seconds);
}

} // namespace RelativeTime
