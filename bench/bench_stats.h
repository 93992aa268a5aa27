// Figures every benchmark reports: medians of rounds, and the time the calling thread spent.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds of processor time this thread has used: what a benchmark charges to the GUI thread.
inline double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}
