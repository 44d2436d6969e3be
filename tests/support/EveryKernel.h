#pragma once
// Value-parameterised tests over every row kernel of the engine: each case runs with its
// kernel forced. A kernel this processor cannot run is skipped with a message that says so,
// never passed silently.
#include "engine/Kernels.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace stipplor {

// Test names and messages show the kernel's name.
inline void PrintTo(TKernel kernel, std::ostream* os) {
    *os << KernelName(kernel);
}

} // namespace stipplor

namespace stipplor::testsupport {

class EveryKernel : public ::testing::TestWithParam<TKernel> {
protected:
    void SetUp() override {
        if (!KernelAvailable(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << KernelName(GetParam()) << " kernel";
        forced_.emplace(GetParam());
    }
    void TearDown() override { forced_.reset(); }

private:
    std::optional<TForcedKernel> forced_;
};

inline std::string KernelTestName(const ::testing::TestParamInfo<TKernel>& info) {
    return KernelName(info.param);
}

} // namespace stipplor::testsupport

// Runs the TEST_P cases of Suite (an alias of EveryKernel) once per kernel.
#define STIPPLOR_FOR_EVERY_KERNEL(Suite)                                                           \
    INSTANTIATE_TEST_SUITE_P(Kernels, Suite, ::testing::ValuesIn(::stipplor::AllKernels),          \
                             ::stipplor::testsupport::KernelTestName)
