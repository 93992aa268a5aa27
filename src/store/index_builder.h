#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// Builds the store's indexes on a thread of its own, one slice at a time, so that after a load or a
// bulk edit the store's thread does not pay for them unless it looks something up first.
class IndexBuilder
{
public:
    // Builds one slice of an index; false once that index is whole.
    using Step = std::function<bool()>;

    // Run in order, each until it is whole.
    explicit IndexBuilder(std::vector<Step> steps);
    // Stops the building.
    ~IndexBuilder();
    IndexBuilder(const IndexBuilder &) = delete;
    IndexBuilder &operator=(const IndexBuilder &) = delete;

    // Starts the building anew, stopping one under way.
    void fillAside();
    // Waits for the building (tests).
    void waitAside();

private:
    void stopAside();

    std::vector<Step> m_steps;
    std::atomic<bool> m_stop = false;
    std::thread m_aside;
};
