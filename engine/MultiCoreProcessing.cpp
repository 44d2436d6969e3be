#include "engine/MultiCoreProcessing.h"

#include "platform/ProcessorInfo.h"
#include "platform/Threading.h"

#include <algorithm>
#include <cfenv>

namespace stipplor {

namespace {

std::atomic<int32_t> processorCount{0};
std::atomic<int32_t> processorCountOverride{0};
std::atomic<int32_t> runningWorkers{0};

// Every thread rounds and computes alike: round to nearest, ties to even, nothing trapping.
void LoadDefaultFloatingPointEnvironment() noexcept {
    std::fesetenv(FE_DFL_ENV);
}

} // namespace

int32_t ProcessorCount() {
    if (const int32_t forced = processorCountOverride.load(); forced > 0)
        return forced;
    int32_t count = processorCount.load();
    if (count == 0) {
        count = SystemProcessorCount();
        processorCount.store(count);
    }
    return count;
}

void SetProcessorCountForTesting(int32_t Count) {
    processorCountOverride.store(std::max(0, Count));
}

int32_t RunningWorkers() {
    return runningWorkers.load();
}

int32_t ThreadCountFor(int32_t ThreadsPerProcessor, int32_t Limit) {
    const int32_t n = ThreadingEnabled() ? ProcessorCount() : 1;
    if (n < 2)
        return n;
    const int64_t wanted = int64_t{ThreadsPerProcessor} * n - runningWorkers.load();
    return static_cast<int32_t>(std::clamp<int64_t>(wanted, 1, std::max(1, Limit)));
}

// ---------------------------------------------------------------------------------------------

void TMultiCoreProcess::RecordAbort() noexcept {
    // An error outranks an abort.
    if (status_.exchange(StatusAborted) == StatusError)
        status_.store(StatusError);
}

void TMultiCoreProcess::RecordError(const char* message) noexcept {
    status_.exchange(StatusError);
    // The first error's message wins, also when an abort came before it.
    if (!messageClaimed_.exchange(true)) {
        try {
            errorMessage_ = message;
        } catch (...) {
            // Out of memory for the text: the error itself is still reported.
        }
    }
}

void TMultiCoreProcess::Run(const TThreadDataArray& Data) {
    // No worker before the library has finished loading (platform/Threading.h).
    if (!ThreadingEnabled() || ProcessorCount() < 2) {
        LoadDefaultFloatingPointEnvironment();
        for (TChunk* chunk : Data)
            RunChunk(*chunk);
        return;
    }
    status_.store(StatusRunning);
    std::vector<std::unique_ptr<TMultiCoreProcessThread>> workers;
    try {
        workers.reserve(Data.size());
        for (size_t i = 1; i < Data.size(); ++i)
            workers.push_back(std::make_unique<TMultiCoreProcessThread>(*this, *Data[i]));
        LoadDefaultFloatingPointEnvironment();
        if (!Data.empty())
            RunChunk(*Data[0]);
    } catch (...) {
        status_.store(StatusError);
        workers.clear(); // joins every worker before the exception moves on
        throw;
    }
    workers.clear();
    switch (status_.load()) {
    case StatusError:
        throw Exception(errorMessage_);
    case StatusAborted:
        throw EAbort();
    default:
        return;
    }
}

void TParallelForProcess::RunChunk(TChunk& Data) {
    for (int32_t i = Data.First; i <= Data.Last; ++i) {
        body_(i);
        if (i == Data.Last) // Last may be INT32_MAX
            break;
    }
}

void TParallelForProcess::Start(int32_t First, int32_t Last, int32_t Threads, int32_t MinChunk) {
    if (Last < First)
        return;
    if (Threads <= 0)
        Threads = ThreadCountFor(1, 16);
    const int64_t count = int64_t{Last} - First + 1;
    const int64_t chunkSize = std::max<int64_t>(std::max(1, MinChunk), count / Threads);
    const int64_t chunks = std::max<int64_t>(1, count / chunkSize);
    std::vector<TChunk> records(static_cast<size_t>(chunks));
    TThreadDataArray data;
    data.reserve(records.size());
    for (int64_t i = 0; i < chunks; ++i) {
        TChunk& chunk = records[static_cast<size_t>(i)];
        chunk.First = static_cast<int32_t>(First + chunkSize * i);
        chunk.Last = static_cast<int32_t>(First + chunkSize * (i + 1) - 1);
        chunk.Index = static_cast<int32_t>(i);
        data.push_back(&chunk);
    }
    records.back().Last = Last;
    Run(data);
}

// ---------------------------------------------------------------------------------------------

TMultiCoreProcessThread::TMultiCoreProcessThread(TMultiCoreProcess& Owner, TChunk& ThreadData)
    : owner_(&Owner), threadData_(ThreadData) {
    runningWorkers.fetch_add(1);
    try {
        thread_ = std::thread([this] { Execute(); });
    } catch (...) {
        runningWorkers.fetch_sub(1);
        throw;
    }
}

TMultiCoreProcessThread::~TMultiCoreProcessThread() {
    if (thread_.joinable())
        thread_.join();
}

void TMultiCoreProcessThread::Execute() noexcept {
    TMultiCoreProcess* owner = owner_.load();
    LoadDefaultFloatingPointEnvironment();
    try {
        owner->RunChunk(threadData_);
    } catch (const EAbort&) {
        owner->RecordAbort();
    } catch (const std::exception& e) {
        owner->RecordError(e.what());
    } catch (...) {
        owner->RecordError("Unknown error in a worker thread");
    }
    owner_.store(nullptr);
    runningWorkers.fetch_sub(1);
}

// ---------------------------------------------------------------------------------------------

void ParallelFor(int32_t First, int32_t Last, const std::function<void(int32_t)>& Body,
                 int32_t MinChunk, int32_t ThreadsPerProcessor) {
    TParallelForProcess job(Body);
    job.Start(First, Last, ThreadCountFor(ThreadsPerProcessor, 16), MinChunk);
}

} // namespace stipplor
