#pragma once

#include "PMCondVars.h"
#include "PMFilter.h"
#include "PMLogQueue.h"

namespace PM
{
/** The multi-threaded filter: per-output-channel work on the pool's workers. */
class FilterMT : public Filter
{
public:
    FilterWorkersPool pool;

    FilterMT() = default;
    ~FilterMT() override;

    void process (const float** inputs, int numIn, float** outputs, int numOut, int n) noexcept override;
    bool alignAndStoreDFTs (float gain) override;
    int threadsCount() const override { return (int) pool.workerCount; }
    void create (Convolver* owner, const PropertiesBase& properties, int filterId) override;
    void destroy() override;

    bool threadsStillBusy() const noexcept { return pool.isBusy(); }
    /** Queues a log event for the convolver's drain (audio or worker thread). */
    void convolverLog (LogQueue::Event event, std::int64_t value, std::int64_t limit) noexcept;

private:
    /** Spins until this pool and the other filter's pool are idle; false after about a second
        (a worker that never returns), so a broken pool cannot hang the host. */
    bool waitForWorkers() const noexcept;
    /** Transforms every input window and makes the newer half the older one. */
    void transformInput() noexcept;
    /** At a partition boundary: the other filter's step while a matrix change is in progress. */
    void driveIncomingFilter() noexcept;
};
} // namespace PM
