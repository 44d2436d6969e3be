#include "engine/Kernels.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace stipplor;
using testsupport::MessageOf;

TEST(Kernels, ForcedKernelsNestAndRestoreTheFastest) {
    const TKernel fastest = ActiveKernel();
    EXPECT_TRUE(KernelAvailable(TKernel::Scalar));
    EXPECT_TRUE(KernelAvailable(fastest));
    {
        TForcedKernel scalar(TKernel::Scalar);
        EXPECT_EQ(ActiveKernel(), TKernel::Scalar);
        {
            TForcedKernel again(fastest);
            EXPECT_EQ(ActiveKernel(), fastest);
        }
        EXPECT_EQ(ActiveKernel(), TKernel::Scalar);
    }
    EXPECT_EQ(ActiveKernel(), fastest);
    // A kernel the processor lacks is refused, and forcing it changes nothing.
    for (TKernel kernel : AllKernels)
        if (!KernelAvailable(kernel)) {
            EXPECT_EQ(MessageOf([&] { TForcedKernel unavailable(kernel); }),
                      std::string(KernelName(kernel)) + " kernel not available on this processor");
            EXPECT_EQ(ActiveKernel(), fastest);
        }
}
