#pragma once
// The kernels of the engine's row loops: plain C++ that runs everywhere, and vector versions
// for processors that have them. A loop asks once per call which kernel to run, so a test can
// force each kernel in turn through the very same code and pin it to the reference.
#include <cstdint>

namespace stipplor {

// Ordered by capability: a row loop runs the best kernel it has that does not exceed the active
// one, so a loop without an AVX-512 version runs its AVX2 one under TKernel::AVX512.
enum class TKernel : uint8_t { Scalar, AVX2, AVX512 };

// Every kernel this build knows, whether or not this processor can run it.
inline constexpr TKernel AllKernels[] = {TKernel::Scalar, TKernel::AVX2, TKernel::AVX512};

const char* KernelName(TKernel Kernel) noexcept;

// Whether this build and this processor can run Kernel. AVX512 needs the F, BW, DQ and VL
// subsets.
bool KernelAvailable(TKernel Kernel) noexcept;

// The kernel the row loops run: the forced one while a TForcedKernel is in scope, otherwise
// the fastest available. Read it on the calling thread, before the rows go to workers.
TKernel ActiveKernel() noexcept;

// Forces ActiveKernel to Kernel for its lifetime; scopes nest. Raises Exception
// "<name> kernel not available on this processor" for a kernel that cannot run here. Meant
// for tests and benchmarks, on one thread, while no row loop runs.
class TForcedKernel {
public:
    explicit TForcedKernel(TKernel Kernel);
    ~TForcedKernel();
    TForcedKernel(const TForcedKernel&) = delete;
    TForcedKernel& operator=(const TForcedKernel&) = delete;

private:
    int previous_;
};

} // namespace stipplor
