#include <gtest/gtest.h>

#include <vector>

#include "device/transfer.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

using simtest::ScriptVolts;

// Hands out chunks of `capacity` samples from one long buffer per channel and
// logs what the stream reports; refuses the handover numbered `refuseAt` (0: never).
class LoggingSink : public StreamSink {
public:
    LoggingSink(std::uint32_t capacity, std::size_t refuseAt) : m_capacity(capacity), m_refuseAt(refuseAt) {
        for (auto& channel : samples) channel.resize(64);
    }
    std::uint32_t NextChunk(StreamChunk& chunk, std::uint32_t filled) override {
        handed.push_back(filled);
        m_used += filled;
        if (handed.size() == m_refuseAt) return 77;
        for (int c = 0; c < 4; ++c) chunk.channels[c] = samples[c].data() + m_used;
        chunk.capacity = m_capacity;
        return RESULT_OK;
    }
    void End(std::uint32_t filled) override { ended.push_back(filled); }

    std::vector<double> samples[4];
    std::vector<std::uint32_t> handed;  // `filled` of each NextChunk call
    std::vector<std::uint32_t> ended;   // `filled` of each End call

private:
    std::uint32_t m_capacity;
    std::size_t m_refuseAt;
    std::size_t m_used = 0;
};

TEST(StreamFrames, HandsOutChunksAndEndsOnce) {
    struct Case {
        const char* name;
        std::uint32_t capacity;
        std::uint64_t limit;
        std::size_t refuseAt;
        std::uint32_t result;
        std::vector<std::uint32_t> handed;
        std::uint32_t ended;
        std::uint64_t stored;
    };
    const Case cases[] = {
        {"partial last chunk", 3, 7, 0, 0, {0, 3, 3}, 1, 7},
        // No chunk is asked for once the last sample is stored.
        {"exact multiple", 3, 6, 0, 0, {0, 3}, 3, 6},
        {"no samples due", 3, 0, 0, 0, {}, 0, 0},
        // The refused handover still delivered its full chunk.
        {"sink refuses the second chunk", 2, 9, 2, 77, {0, 2}, 0, 2},
        {"sink refuses the first chunk", 2, 9, 1, 77, {0}, 0, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        simtest::InstallOne(simtest::ScriptedLogger(100, false));
        simtest::OpenLogger logger;
        LoggingSink sink(test.capacity, test.refuseAt);
        std::atomic<std::uint64_t> streamed{0};
        std::atomic<std::uint32_t> largestQueue{0};
        const std::uint32_t result = StreamFrames(vossim::Api(), logger.handle, 1, test.limit, logger.calibration,
                                                  TriggerSetup{}, nullptr, sink, StreamMonitor{&streamed, &largestQueue});
        EXPECT_EQ(result, test.result);
        EXPECT_EQ(sink.handed, test.handed);
        EXPECT_EQ(sink.ended, std::vector<std::uint32_t>{test.ended});
        EXPECT_EQ(streamed.load(), test.stored);
        // A refused first chunk ends the stream before any frame is read.
        EXPECT_EQ(largestQueue.load() >= 8u, test.refuseAt != 1);
        // Frames 0 and 1 lead and frame 2 is consumed by the trigger test.
        for (std::uint64_t i = 0; i < test.stored; ++i) {
            for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(sink.samples[c][i], ScriptVolts(3 + i, c)) << i;
        }
        const vossim::DeviceStats stats = vossim::Stats(0);
        EXPECT_FALSE(stats.streaming);
        EXPECT_EQ(stats.events.back(), "purge 3");
        logger.Close();
    }
}

}  // namespace
