#pragma once

#include <atomic>
#include <thread>

namespace kalder
{

/**
    A read-write lock whose readers never wait and never allocate.

    Readers only ever try: tryEnterRead() fails at once while a writer holds the lock
    or waits for it, and the reader goes elsewhere (for a frame cache: to the data
    files). Writers wait, yielding, until the readers inside have left; new readers
    are turned away meanwhile, so a writer is never starved.

    Not recursive. Real-time safe for readers.
*/
class CacheLock
{
public:
    bool tryEnterRead() noexcept
    {
        if (waitingWriters.load (std::memory_order_acquire) > 0)
            return false;

        auto s = state.load (std::memory_order_relaxed);
        while (s >= 0)
            if (state.compare_exchange_weak (s, s + 1, std::memory_order_acquire))
                return true;
        return false;
    }

    void exitRead() noexcept { state.fetch_sub (1, std::memory_order_release); }

    void enterWrite() noexcept
    {
        waitingWriters.fetch_add (1, std::memory_order_acq_rel);
        for (int expected = 0; ! state.compare_exchange_weak (expected, writerHolds, std::memory_order_acquire); expected = 0)
            std::this_thread::yield();
        waitingWriters.fetch_sub (1, std::memory_order_acq_rel);
    }

    void exitWrite() noexcept { state.store (0, std::memory_order_release); }

    struct ScopedWrite
    {
        explicit ScopedWrite (CacheLock& l) noexcept : lock (l) { lock.enterWrite(); }
        ~ScopedWrite() { lock.exitWrite(); }
        CacheLock& lock;
    };

    /** Tries once; check isLocked(). */
    struct ScopedTryRead
    {
        explicit ScopedTryRead (CacheLock& l) noexcept : lock (l), locked (l.tryEnterRead()) {}
        ~ScopedTryRead()
        {
            if (locked)
                lock.exitRead();
        }
        bool isLocked() const noexcept { return locked; }
        CacheLock& lock;
        const bool locked;
    };

private:
    static constexpr int writerHolds = -1;
    std::atomic<int> state { 0 }; // readers inside, or writerHolds
    std::atomic<int> waitingWriters { 0 };
};

} // namespace kalder
