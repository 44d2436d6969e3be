#pragma once
// Fork-join parallel-for: each call creates its worker threads, runs the first chunk on the
// calling thread, joins the workers and carries any failure back to the caller.
//
// Contract: Body(i) runs exactly once for every i in First..Last; within a chunk in increasing
// order. Bodies write only data that belongs to their index. Workers never call the host, the
// progress hook or the dialog. An ordinary exception in a worker reaches the caller as an
// Exception with the same message (the first one recorded); an abort as EAbort, unless an
// error was recorded too. Nested calls are allowed and get fewer threads.
#include "core/Exception.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace stipplor {

struct TChunk {
    int32_t First = 0;
    int32_t Last = -1;
    int32_t Index = 0;
};
using TThreadDataArray = std::vector<TChunk*>;

class TMultiCoreProcessThread;

// Base of a multi-threaded job: RunChunk processes one chunk; Run spreads the chunks.
class TMultiCoreProcess {
public:
    enum : int32_t { StatusRunning = 0, StatusError = 1, StatusAborted = 2 };

    virtual ~TMultiCoreProcess() = default;
    virtual void RunChunk(TChunk& Data) = 0;
    void Run(const TThreadDataArray& Data);

    int32_t Status() const noexcept { return status_.load(); }
    const std::string& ErrorMessage() const noexcept { return errorMessage_; }

private:
    friend class TMultiCoreProcessThread;
    void RecordAbort() noexcept;
    void RecordError(const char* message) noexcept;

    std::atomic<int32_t> status_{StatusRunning};
    std::atomic<bool> messageClaimed_{false};
    std::string errorMessage_;
};

class TParallelForProcess final : public TMultiCoreProcess {
public:
    explicit TParallelForProcess(std::function<void(int32_t)> Body) : body_(std::move(Body)) {}
    void RunChunk(TChunk& Data) override;
    void Start(int32_t First, int32_t Last, int32_t Threads, int32_t MinChunk);

private:
    std::function<void(int32_t)> body_;
};

// One worker: started on creation; its destruction waits until it has finished.
class TMultiCoreProcessThread {
public:
    TMultiCoreProcessThread(TMultiCoreProcess& Owner, TChunk& ThreadData);
    TMultiCoreProcessThread(const TMultiCoreProcessThread&) = delete;
    TMultiCoreProcessThread& operator=(const TMultiCoreProcessThread&) = delete;
    ~TMultiCoreProcessThread();

private:
    void Execute() noexcept;

    std::atomic<TMultiCoreProcess*> owner_; // cleared by the worker as its very last step
    TChunk& threadData_;
    std::thread thread_;
};

void ParallelFor(int32_t First, int32_t Last, const std::function<void(int32_t)>& Body,
                 int32_t MinChunk = 1, int32_t ThreadsPerProcessor = 1);

// Threads a new job may use: ThreadsPerProcessor x processors - live workers, within 1..Limit.
int32_t ThreadCountFor(int32_t ThreadsPerProcessor, int32_t Limit);

// The processor count, read once from the system.
int32_t ProcessorCount();

// Live worker threads of all jobs.
int32_t RunningWorkers();

// Tests stand in another processor count (0 returns to the system's).
void SetProcessorCountForTesting(int32_t Count);

} // namespace stipplor
