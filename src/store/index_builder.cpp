#include "store/index_builder.h"

#include "platform/background_thread.h"

IndexBuilder::IndexBuilder(std::vector<Step> steps)
    : m_steps(std::move(steps))
{
}

IndexBuilder::~IndexBuilder()
{
    stopAside();
}

void IndexBuilder::fillAside()
{
    stopAside();
    m_stop = false;
    m_aside = std::thread([this] {
        becomeBackgroundThread();
        for (const Step &step : m_steps) {
            while (!m_stop && step()) {
            }
        }
    });
}

void IndexBuilder::stopAside()
{
    m_stop = true;
    waitAside();
}

void IndexBuilder::waitAside()
{
    if (m_aside.joinable())
        m_aside.join();
}
