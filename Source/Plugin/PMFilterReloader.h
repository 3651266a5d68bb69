#pragma once

// Watches the matrix file last loaded and reports when another program rewrites it: a thread
// ("PMFilterReloader") polls the file's modification time and posts a FilterChangeMessage to its
// handler (the processor), which reloads on the message thread. Control calls: message thread.

#include <juce_events/juce_events.h>

#include <atomic>

namespace PM
{
class FilterChangeMessage : public juce::Message
{
public:
    explicit FilterChangeMessage (const juce::File& changed) : file (changed) {}
    ~FilterChangeMessage() override = default;
    juce::File file;
};

class FilterReloader : public juce::Thread
{
public:
    juce::File file;
    juce::Time lastModified;
    std::atomic<bool> ready { false };
    std::atomic<bool> finished { false };
    std::atomic<int> pollPeriod { 0 };
    int settleDelay = 1000;
    std::atomic<juce::MessageListener*> handler { nullptr };

    FilterReloader();
    FilterReloader (juce::File fileToWatch, int period);
    FilterReloader (juce::String path, int period);
    ~FilterReloader() override;

    bool create (juce::File fileToWatch, int period);
    bool create (juce::String path, int period) { return create (juce::File (path), period); }
    bool set (juce::File fileToWatch);
    bool set (juce::String path) { return set (juce::File (path)); }
    void setHandler (juce::MessageListener* listener) { handler = listener; }
    void start (int period);
    /** Ends the thread (at once: its sleeps wake on the request); the handler stays set. */
    void stop();
    void destroy();
    void run() override;
};
} // namespace PM
