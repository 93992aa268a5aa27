#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <utility>
#include <vector>

// The steps of the app's start as they end, for the start report: off unless PENROOST_START_REPORT is
// set. Any thread may mark; only the first time a step is met counts, so a later save or poll cycle
// leaves the start's figures alone. Times are milliseconds of the monotonic clock.
namespace startMarks {
constexpr const char *kEnvironment = "PENROOST_START_REPORT";
void mark(const char *name);
std::vector<std::pair<QByteArray, qint64>> taken();
qint64 now();
} // namespace startMarks
