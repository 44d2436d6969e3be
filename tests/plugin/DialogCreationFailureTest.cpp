// An exception while ProcessImage creates the dialog must not reach the host. The test host
// runs out of memory on purpose: it replaces the process's operator new, and once the
// plug-in has asked for the host's window it lets the Nth allocation after that fail, for
// every N up to the one that no longer falls before the dialog is shown.
#include "TestHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

// 0: allocations succeed; otherwise the count of allocations left before one fails.
long allocationsBeforeFailure = 0;
bool allocationFailed = false;

void* Allocate(std::size_t size) {
    if (allocationsBeforeFailure > 0 && --allocationsBeforeFailure == 0) {
        allocationFailed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

// Every form of new and delete that can pair with another, so that they all meet malloc and
// free (a sanitizer would report a pair split between its allocator and ours).
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace plugintest {
namespace {

TEST(DialogCreationFailure, NeverReachesTheHost) {
    TTestHost host;
    host.Register();
    TTestPicture picture(16, 16, 1);
    host.Documents = {{"harbour.png", picture.Pixels.data()}};

    long failing = 0;
    host.AfterRequest = [&](int32_t code) {
        if (code == prMainWindow)
            allocationsBeforeFailure = failing;
    };
    host.OnForm = [&](tk_form*) {
        allocationsBeforeFailure = 0; // the user's part is not under test here
    };
    // The host's own bookkeeping must not be what fails.
    host.Requests.reserve(1000);
    int creationFailures = 0;
    for (failing = 1; failing < 100000; ++failing) {
        host.Boxes.clear();
        host.Requests.clear();
        allocationFailed = false;
        const int shownBefore = host.FormsShown;
        const int32_t result = host.Process(pkImage, &picture.Image);
        allocationsBeforeFailure = 0;
        ASSERT_EQ(result, 1) << "allocation " << failing;
        if (!allocationFailed)
            break; // every allocation up to the dialog's showing has failed once
        if (host.FormsShown == shownBefore) {
            ++creationFailures;
            ASSERT_EQ(host.Boxes.size(), 1u) << "allocation " << failing;
            EXPECT_EQ(host.Boxes[0].Caption, "Error");
            EXPECT_EQ(host.Boxes[0].Text, "Out of memory.");
        } else {
            // A failure inside one of the dialog's event handlers is the framework's to
            // report; the dialog goes on.
            for (const TMessageBox& box : host.Boxes)
                EXPECT_EQ(box.Caption, "Error") << "allocation " << failing;
        }
    }
    EXPECT_GT(creationFailures, 10) << "the dialog's creation allocates";
    EXPECT_LT(failing, 100000);
}

} // namespace
} // namespace plugintest
