#include "engine/Kernels.h"

#include "core/Exception.h"

#include <atomic>
#include <string>

namespace stipplor {

namespace {

constexpr int NoForcedKernel = -1;
std::atomic<int> forcedKernel{NoForcedKernel};

#if defined(__x86_64__) || defined(__i386__)
bool ProcessorHasAVX2() noexcept {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
bool ProcessorHasAVX512() noexcept {
    static const bool have = ProcessorHasAVX2() && __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512dq") &&
                             __builtin_cpu_supports("avx512vl");
    return have;
}
#else
bool ProcessorHasAVX2() noexcept {
    return false;
}
bool ProcessorHasAVX512() noexcept {
    return false;
}
#endif

} // namespace

const char* KernelName(TKernel Kernel) noexcept {
    switch (Kernel) {
    case TKernel::Scalar:
        return "Scalar";
    case TKernel::AVX2:
        return "AVX2";
    case TKernel::AVX512:
        return "AVX512";
    }
    return "unknown";
}

bool KernelAvailable(TKernel Kernel) noexcept {
    switch (Kernel) {
    case TKernel::Scalar:
        return true;
    case TKernel::AVX2:
        return ProcessorHasAVX2();
    case TKernel::AVX512:
        return ProcessorHasAVX512();
    }
    return false;
}

TKernel ActiveKernel() noexcept {
    const int forced = forcedKernel.load(std::memory_order_relaxed);
    if (forced != NoForcedKernel)
        return static_cast<TKernel>(forced);
    if (ProcessorHasAVX512())
        return TKernel::AVX512;
    return ProcessorHasAVX2() ? TKernel::AVX2 : TKernel::Scalar;
}

TForcedKernel::TForcedKernel(TKernel Kernel) : previous_(forcedKernel.load()) {
    if (!KernelAvailable(Kernel))
        throw Exception(std::string(KernelName(Kernel)) +
                        " kernel not available on this processor");
    forcedKernel.store(static_cast<int>(Kernel));
}

TForcedKernel::~TForcedKernel() {
    forcedKernel.store(previous_);
}

} // namespace stipplor
