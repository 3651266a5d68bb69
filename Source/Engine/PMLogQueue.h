#pragma once

// Log events raised on the audio path. The audio thread (or a worker) pushes a small record
// without allocating or locking; a thread off the audio path drains the records and turns them
// into log lines. Bounded: when full, new events are counted as dropped, never waited for.

#include <array>
#include <atomic>
#include <cstdint>

namespace PM
{
class LogQueue
{
public:
    enum class Event : int
    {
        workersStillBusy = 1,   // value: busy worker count at a dispatch
        overrun,                // value: block length of the refused call
        blockTooLong,           // value: block length, limit: N/2
        workersTimedOut,        // value: block length
    };

    struct Entry
    {
        Event event;
        int filterId;
        std::int64_t value;
        std::int64_t limit;
    };

    static constexpr std::size_t capacity = 256;

    LogQueue() noexcept
    {
        for (std::size_t i = 0; i < capacity; ++i)
            slots[i].sequence.store (i, std::memory_order_relaxed);
    }

    /** Lock-free; safe from several producers at once. False (and counted) when full. */
    bool push (const Entry& e) noexcept
    {
        std::size_t pos = tail.load (std::memory_order_relaxed);
        for (;;)
        {
            Slot& s = slots[pos % capacity];
            const std::size_t seq = s.sequence.load (std::memory_order_acquire);
            const auto diff = (std::intptr_t) seq - (std::intptr_t) pos;
            if (diff == 0)
            {
                if (tail.compare_exchange_weak (pos, pos + 1, std::memory_order_relaxed))
                {
                    s.entry = e;
                    s.sequence.store (pos + 1, std::memory_order_release);
                    return true;
                }
            }
            else if (diff < 0)
            {
                dropped.fetch_add (1, std::memory_order_relaxed);
                return false;
            }
            else
            {
                pos = tail.load (std::memory_order_relaxed);
            }
        }
    }

    /** One consumer at a time. */
    bool pop (Entry& out) noexcept
    {
        std::size_t pos = head.load (std::memory_order_relaxed);
        Slot& s = slots[pos % capacity];
        const std::size_t seq = s.sequence.load (std::memory_order_acquire);
        if ((std::intptr_t) seq - (std::intptr_t) (pos + 1) < 0)
            return false;
        out = s.entry;
        head.store (pos + 1, std::memory_order_relaxed);
        s.sequence.store (pos + capacity, std::memory_order_release);
        return true;
    }

    /** Events lost to a full queue since the last call. */
    std::uint64_t takeDropped() noexcept { return dropped.exchange (0); }

private:
    struct Slot
    {
        std::atomic<std::size_t> sequence { 0 };
        Entry entry {};
    };
    std::array<Slot, capacity> slots;
    alignas (64) std::atomic<std::size_t> tail { 0 };
    alignas (64) std::atomic<std::size_t> head { 0 };
    std::atomic<std::uint64_t> dropped { 0 };
};
} // namespace PM
