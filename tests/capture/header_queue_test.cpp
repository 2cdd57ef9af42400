#include "capture/header_queue.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

namespace dahlo {
namespace {

TEST(HeaderQueue, KeepsOrderRefusesWhenFullAndEmptiesToNull) {
    std::array<WaveHeader, 5> headers{};
    HeaderQueue<4> queue;
    EXPECT_EQ(queue.Pop(), nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(queue.Push(&headers[i]));
    EXPECT_FALSE(queue.Push(&headers[4]));
    EXPECT_EQ(queue.Size(), 4u);
    EXPECT_EQ(queue.Pop(), &headers[0]);
    EXPECT_TRUE(queue.Push(&headers[4]));  // wraps around
    for (int i = 1; i < 5; ++i) EXPECT_EQ(queue.Pop(), &headers[i]);
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(HeaderQueue, OneProducerOneConsumerSeeEveryHeaderInOrder) {
    // The headers' addresses stand for a sequence number the consumer checks.
    constexpr int kCount = 200000;
    std::vector<WaveHeader> headers(16);
    HeaderQueue<16> queue;
    std::vector<int> seen;
    seen.reserve(kCount);
    std::atomic<int> finished{0};  // headers the consumer is done with, as the callback reports
    std::thread consumer([&] {
        while (static_cast<int>(seen.size()) < kCount) {
            if (WaveHeader* h = queue.Pop()) {
                seen.push_back(static_cast<int>(h->bytesRecorded));
                finished.fetch_add(1, std::memory_order_release);
            }
        }
    });
    // A header is reused only once the consumer has handed it back, as with real buffers.
    int pushed = 0;
    while (pushed < kCount) {
        WaveHeader& h = headers[pushed % 16];
        if (pushed - finished.load(std::memory_order_acquire) < 16) {
            h.bytesRecorded = static_cast<std::uint32_t>(pushed);
            ASSERT_TRUE(queue.Push(&h));
            ++pushed;
        }
    }
    consumer.join();
    ASSERT_EQ(static_cast<int>(seen.size()), kCount);
    int outOfOrder = 0;
    for (int i = 0; i < kCount; ++i) outOfOrder += seen[i] != i ? 1 : 0;
    EXPECT_EQ(outOfOrder, 0);
}

}  // namespace
}  // namespace dahlo
