#include "PMFilterReloader.h"

namespace PM
{
FilterReloader::FilterReloader() : juce::Thread ("PMFilterReloader")
{
}

FilterReloader::FilterReloader (juce::File fileToWatch, int period) : FilterReloader()
{
    create (fileToWatch, period);
}

FilterReloader::FilterReloader (juce::String path, int period) : FilterReloader()
{
    create (path, period);
}

FilterReloader::~FilterReloader()
{
    destroy();
    stop();
}

bool FilterReloader::create (juce::File fileToWatch, int period)
{
    ready = false;
    if (period > 0)
        pollPeriod = period;
    if (! fileToWatch.existsAsFile())
        return false;
    file = fileToWatch;
    lastModified = file.getLastModificationTime();
    ready = true;
    return true;
}

bool FilterReloader::set (juce::File fileToWatch)
{
    if (handler.load() != nullptr)
        destroy();
    ready = false;
    pollPeriod = 1000;
    return create (fileToWatch, 0);
}

void FilterReloader::start (int period)
{
    ready = handler.load() != nullptr;
    if (! ready)
        return;
    if (period > 0)
        pollPeriod = period;
    if (! isThreadRunning())
        startThread();
}

void FilterReloader::stop()
{
    signalThreadShouldExit();
    notify();
    while (isThreadRunning())
        juce::Thread::sleep (5);
}

void FilterReloader::destroy()
{
    if (handler.load() == nullptr)
        return;
    stop();
    handler = nullptr;
    ready = false;
    finished = true;
}

void FilterReloader::run()
{
    finished = false;
    while (! threadShouldExit())
    {
        // wait() rather than sleep(): a stop request ends the wait at once.
        wait (std::max (1, pollPeriod.load()));
        if (threadShouldExit())
            break;
        const auto modified = file.getLastModificationTime();
        if (modified != lastModified)
        {
            // Let the writer finish the file before it is read.
            wait (settleDelay);
            if (threadShouldExit())
                break;
            lastModified = file.getLastModificationTime();
            if (auto* h = handler.load())
                h->postMessage (new FilterChangeMessage (file));
        }
    }
    finished = true;
}
} // namespace PM
