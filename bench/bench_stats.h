// Figures every benchmark reports: medians of rounds, and the time the calling thread spent.
#pragma once

#include <algorithm>
#include <cstdio>
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

// The goals a bench prints, checked as they are printed: the run fails when one is missed. A timed
// figure misses only beyond the margin a loaded machine needs; a count (bytes) has none.
class Goals
{
public:
    static constexpr double kTimedMargin = 1.25;

    // Whether `value` is at most `goal`; prints " (goal <= G)" and " MISSED" when it is not.
    bool atMost(double value, double goal, bool timed = true)
    {
        const bool met = value <= goal * (timed ? kTimedMargin : 1.0);
        std::printf(" (goal <= %g)%s", goal, met ? "" : " MISSED");
        m_missed += met ? 0 : 1;
        return met;
    }
    // The same for a check that is not a figure (a result the bench also needs to hold).
    bool holds(bool met, const char *what)
    {
        if (!met)
            std::printf("MISSED: %s\n", what);
        m_missed += met ? 0 : 1;
        return met;
    }
    int missed() const { return m_missed; }
    // The process's exit code: 1 when any goal was missed.
    int exitCode() const
    {
        if (m_missed)
            std::printf("%d goal(s) missed\n", m_missed);
        return m_missed ? 1 : 0;
    }

private:
    int m_missed = 0;
};
