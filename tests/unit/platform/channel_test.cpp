// The channel across threads: order, the end after close, batches taken
// without waiting, and sends after the receiver hung up.
#include "platform/channel.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace kestal::platform {
namespace {

TEST(PlatformChannel, DeliversEverythingInOrderAcrossThreads) {
    auto channel = std::make_shared<Channel<int>>();
    constexpr int kCount = 20'000;
    std::thread sender([channel] {
        for (int i = 0; i < kCount; ++i)
            channel->send(i);
        channel->close();
    });
    std::vector<int> received;
    while (std::optional<int> item = channel->receive())
        received.push_back(*item);
    sender.join();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(received[i], i);
    EXPECT_TRUE(channel->disconnected());
}

TEST(PlatformChannel, ItemsQueuedBeforeCloseAreStillReceived) {
    Channel<std::string> channel;
    channel.send("a");
    channel.send("b");
    channel.close();
    EXPECT_FALSE(channel.disconnected());
    EXPECT_EQ(channel.receive(), "a");
    EXPECT_EQ(channel.try_receive(), "b");
    EXPECT_EQ(channel.receive(), std::nullopt);
    EXPECT_TRUE(channel.disconnected());
}

TEST(PlatformChannel, ReceiveWaitsForASendOrTheClose) {
    Channel<std::unique_ptr<int>> channel;
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        channel.send(std::make_unique<int>(7));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        channel.close();
    });
    std::optional<std::unique_ptr<int>> first = channel.receive();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(**first, 7);
    EXPECT_EQ(channel.receive(), std::nullopt);
    sender.join();
}

TEST(PlatformChannel, TakeQueuedTakesABatchWithoutWaiting) {
    Channel<int> channel;
    EXPECT_EQ(channel.try_receive(), std::nullopt);
    EXPECT_TRUE(channel.take_queued().empty());
    for (int i = 1; i <= 3; ++i)
        channel.send(i);
    EXPECT_EQ(channel.receive(), 1);
    EXPECT_EQ(channel.take_queued(), (std::vector<int>{2, 3}));
    channel.send(4);
    EXPECT_EQ(channel.take_queued(), (std::vector<int>{4}));
}

TEST(PlatformChannel, SendFailsOnceTheReceiverHungUp) {
    Channel<int> channel;
    EXPECT_TRUE(channel.send(1));
    channel.hang_up();
    EXPECT_FALSE(channel.send(2));
    EXPECT_EQ(channel.try_receive(), std::nullopt);
}

} // namespace
} // namespace kestal::platform
