// The audio path allocates nothing and takes no lock: this program replaces the allocator and
// the pthread locking calls with counting versions and runs the engine through a matrix change,
// cell edits, irregular and too-long blocks while counting. Built without sanitizers only (they
// bring allocators of their own).

#include "EngineHarness.h"
#include "Plugin/PMProcessor.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <thread>
#include <new>

extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);
extern "C" void* __libc_memalign (size_t, size_t);
extern "C" void __libc_free (void*);

namespace
{
std::atomic<bool> counting { false };
std::atomic<long> allocations { 0 };
std::atomic<long> locks { 0 };
thread_local bool audioThread = false;

inline void countAllocation()
{
    if (counting.load (std::memory_order_relaxed))
        allocations.fetch_add (1, std::memory_order_relaxed);
}

inline void countLock()
{
    if (audioThread && counting.load (std::memory_order_relaxed))
        locks.fetch_add (1, std::memory_order_relaxed);
}

using MutexFn = int (*) (pthread_mutex_t*);
using CondWaitFn = int (*) (pthread_cond_t*, pthread_mutex_t*);
using CondTimedWaitFn = int (*) (pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
MutexFn realLock = nullptr;
MutexFn realTryLock = nullptr;
CondWaitFn realCondWait = nullptr;
CondTimedWaitFn realCondTimedWait = nullptr;

struct ResolveRealFunctions
{
    ResolveRealFunctions()
    {
        realLock = (MutexFn) dlsym (RTLD_NEXT, "pthread_mutex_lock");
        realTryLock = (MutexFn) dlsym (RTLD_NEXT, "pthread_mutex_trylock");
        realCondWait = (CondWaitFn) dlvsym (RTLD_NEXT, "pthread_cond_wait", "GLIBC_2.3.2");
        realCondTimedWait = (CondTimedWaitFn) dlvsym (RTLD_NEXT, "pthread_cond_timedwait", "GLIBC_2.3.2");
    }
} resolveRealFunctions __attribute__ ((init_priority (101)));
} // namespace

extern "C"
{
void* malloc (size_t n) { countAllocation(); return __libc_malloc (n); }
void* calloc (size_t a, size_t b) { countAllocation(); return __libc_calloc (a, b); }
void* realloc (void* p, size_t n) { countAllocation(); return __libc_realloc (p, n); }
void free (void* p) { if (p != nullptr) countAllocation(); __libc_free (p); }
void* memalign (size_t a, size_t n) { countAllocation(); return __libc_memalign (a, n); }
void* aligned_alloc (size_t a, size_t n) { countAllocation(); return __libc_memalign (a, n); }
int posix_memalign (void** out, size_t a, size_t n)
{
    countAllocation();
    *out = __libc_memalign (a, n);
    return *out != nullptr ? 0 : ENOMEM;
}

int pthread_mutex_lock (pthread_mutex_t* m) { countLock(); return realLock (m); }
int pthread_mutex_trylock (pthread_mutex_t* m) { countLock(); return realTryLock (m); }
int pthread_cond_wait (pthread_cond_t* c, pthread_mutex_t* m) { countLock(); return realCondWait (c, m); }
int pthread_cond_timedwait (pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* t)
{
    countLock();
    return realCondTimedWait (c, m, t);
}
}

using namespace PM;
using namespace PMTest;

namespace
{
struct Counting
{
    Counting() { counting = true; }
    ~Counting() { counting = false; }
};
} // namespace

TEST (RealtimeSafety, TheHooksCount)
{
    allocations = 0;
    locks = 0;
    audioThread = true;
    {
        Counting c;
        auto* p = new int (3);
        delete p;
        pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock (&m);
        pthread_mutex_unlock (&m);
    }
    audioThread = false;
    EXPECT_EQ (allocations.load(), 2);
    EXPECT_EQ (locks.load(), 1);
}

TEST (RealtimeSafety, ProcessNeitherAllocatesNorLocksThroughAMatrixChange)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("a.wav"), randomMatrix (4, 4, 1500, 1)));
    ASSERT_TRUE (writeMultiFile (tmp.path ("b.wav"), randomMatrix (4, 4, 3000, 2)));
    ASSERT_TRUE (writeSoundFile (tmp.path ("cell.wav"), { randomSignal (800, 3) }));
    FixedProperties p;
    p.numInputs = p.numOutputs = 4;
    p.fft = 1024;
    p.blockLength = 256;
    Convolver cv;
    cv.setLogger (std::make_shared<CaptureLogger>());
    cv.create (p);
    ASSERT_GT (cv.setFilterMatrix (tmp.path ("a.wav"), 4, 4), 0);

    std::vector<std::vector<float>> buffers (4, std::vector<float> (1024));
    std::vector<float*> ptrs;
    for (auto& b : buffers)
        ptrs.push_back (b.data());
    int blockIndex = 0;
    auto play = [&] (int blocks, const std::vector<unsigned long>& sizes)
    {
        audioThread = true;
        Counting c;
        for (int k = 0; k < blocks; ++k, ++blockIndex)
        {
            const unsigned long n = sizes[(size_t) k % sizes.size()];
            for (auto& b : buffers)
                for (unsigned long s = 0; s < n; ++s)
                    b[s] = float ((blockIndex * 7 + (int) s) % 13) / 13.0f - 0.5f;
            cv.process (const_cast<const float**> (ptrs.data()), 4, ptrs.data(), 4, n);
        }
        audioThread = false;
    };

    allocations = 0;
    locks = 0;
    play (200, { 256 });
    const int before = cv.activeFilter()->id;
    ASSERT_GT (cv.setFilterMatrix (tmp.path ("b.wav"), 4, 4), 0);
    play (400, { 256, 100, 1, 411, 512 });
    EXPECT_NE (cv.activeFilter()->id, before);  // the change really happened while counting
    ASSERT_NE (cv.loadFilterMatrixItem (tmp.path ("cell.wav"), 1, 2), nullptr);
    play (400, { 256, 513, 256 });  // 513: too long, answered with silence
    EXPECT_EQ (cv.status.load(), Convolver::statusBlockTooLong);
    EXPECT_FALSE (cv.changeInProgress());

    EXPECT_EQ (allocations.load(), 0) << "allocations (or frees) on the audio path";
    EXPECT_EQ (locks.load(), 0) << "locks taken on the audio thread";
}

// The plug-in's audio callback, with the channel-order mapping, gain, status latch and the
// deferral of parameter changes that hosts deliver on the audio thread.
TEST (RealtimeSafety, ProcessBlockNeitherAllocatesNorLocks)
{
    TempFolder home;
    setenv ("HOME", home.dir.getFullPathName().toRawUTF8(), 1);  // the instance's log goes there
    juce::ScopedJuceInitialiser_GUI juce;
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), randomMatrix (2, 2, 2000, 3)));
    PMAudioProcessor p;
    p.prepareToPlay (48000, 512);
    ASSERT_GT (p.loadAndParseAudioFile (tmp.path ("m.wav")), 0);

    allocations = 0;
    locks = 0;
    std::thread audio ([&]
    {
        // Both buffers exist before counting starts (a host's buffers do too).
        juce::AudioBuffer<float> full (64, 512);
        juce::AudioBuffer<float> shorter (full.getArrayOfWritePointers(), 64, 300);
        juce::MidiBuffer midi;
        audioThread = true;
        Counting c;
        for (int b = 0; b < 400; ++b)
        {
            auto& buffer = b % 5 == 0 ? shorter : full;
            for (int ch = 0; ch < 64; ++ch)
                buffer.getWritePointer (ch)[0] = 0.5f;
            p.processBlock (buffer, midi);
            if (b == 200)
                p.parameterValueChanged (PMAudioProcessor::inputsIndex, 0.0f);  // as a host would, mid-stream
        }
        audioThread = false;
    });
    audio.join();
    EXPECT_EQ (allocations.load(), 0) << "allocations (or frees) in processBlock";
    EXPECT_EQ (locks.load(), 0) << "locks taken in processBlock";
    EXPECT_FALSE (p.convolver.changeInProgress());
}
