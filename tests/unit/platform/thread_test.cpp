// Big-stack threads: the stack really has the requested size (a million
// frames fit), values come back, and exceptions of any type cross the join.
#include "platform/thread.h"
#include "support/compile_error.h"

#include <gtest/gtest.h>
#include <memory>
#include <pthread.h>
#include <stdexcept>

namespace kestal::platform {
namespace {

// Each frame keeps a volatile buffer alive across the call, so the compiler
// can neither inline the recursion nor turn it into a loop.
__attribute__((noinline)) std::size_t recurse(std::size_t depth) {
    volatile char frame[48];
    frame[0] = static_cast<char>(depth);
    if (depth == 0)
        return 0;
    std::size_t below = recurse(depth - 1);
    return below + 1 + (frame[0] == static_cast<char>(depth) ? 0 : 1);
}

std::size_t current_stack_size() {
    pthread_attr_t attr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    return size;
}

TEST(PlatformThread, AMillionFramesFitOnTheBigStack) {
    // About 64 bytes a frame or more: far beyond the default 8 MiB stack.
    Result<std::size_t> depth = run_on_thread(kBigStackBytes, [] { return recurse(1'000'000); });
    ASSERT_TRUE(depth.ok()) << depth.error().text;
    EXPECT_EQ(*depth, 1'000'000u);
}

TEST(PlatformThread, StackHasTheRequestedSize) {
    Result<std::size_t> big = run_on_thread(kBigStackBytes, current_stack_size);
    ASSERT_TRUE(big.ok());
    EXPECT_GE(*big, kBigStackBytes);
    // A tiny request is raised to what the system allows and still runs.
    Result<std::size_t> tiny = run_on_thread(1, current_stack_size);
    ASSERT_TRUE(tiny.ok());
    EXPECT_GT(*tiny, 0u);
}

TEST(PlatformThread, ValuesComeBackAndSideEffectsAreVisible) {
    int touched = 0;
    Result<void> ran = run_on_thread(1 << 20, [&] { touched = 42; });
    ASSERT_TRUE(ran.ok());
    EXPECT_EQ(touched, 42);
    Result<std::unique_ptr<std::string>> moved =
        run_on_thread(1 << 20, [] { return std::make_unique<std::string>("move-only"); });
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(**moved, "move-only");
}

TEST(PlatformThread, ExceptionsCrossTheJoin) {
    EXPECT_THROW(
        {
            try {
                (void)run_on_thread(kBigStackBytes,
                                    []() -> int { throw std::runtime_error("deep failure"); });
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "deep failure");
                throw;
            }
        },
        std::runtime_error);
    // The compiler's own error type is not a std::exception; it crosses too,
    // with its position intact.
    try {
        (void)run_on_thread(kBigStackBytes, [] { throw_error("too deep", 7, 3); });
        FAIL() << "the error was lost";
    } catch (const CompileError &e) {
        EXPECT_EQ(e.message, "too deep");
        EXPECT_EQ(e.line, 7u);
        EXPECT_EQ(e.column, 3u);
    }
}

} // namespace
} // namespace kestal::platform
