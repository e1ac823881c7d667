#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/loss.h"

namespace {

constexpr std::int64_t MS = 1000000;
constexpr std::int64_t SECOND = 1000 * MS;
constexpr std::int64_t DAY = 86400 * SECOND;
// The stream looks at the clock every 64 frames: 6.4 ms at 10000 frames/s.
constexpr std::int64_t POLL = 6400000;

struct Stall {
    std::int64_t at;        // nanoseconds after the start
    std::int64_t length;    // nanoseconds the host does not poll
};

struct Case {
    const char* name;
    double ppm;                  // the logger's crystal
    std::int64_t duration;
    std::vector<Stall> stalls;
    std::uint64_t queueFrames;   // what the driver's receive queue holds
    std::vector<std::uint64_t> expected;  // frames reported lost, one per loss, within +-SLACK
    bool instant = false;        // frames arrive far ahead of the time
    std::uint64_t chipFrames = 168;  // the most frames the USB chip holds back
};

// A host reading a logger whose crystal is off by `ppm`: the frames sent by
// time t are t * 10000 * (1 + ppm), of which up to 168 (16 ms and a packet;
// 8 for a full-speed chip, which sends a packet every 8 frames) sit in the USB chip; a stall longer than the queue loses the rest. A stall
// that leaves the queue within a packet (8 frames) of its limit has it found
// full, with at most a packet in the chip.
std::vector<std::uint64_t> Losses(const Case& test) {
    const std::int64_t begin = 5 * SECOND;  // any epoch of the steady clock
    LossDetector detector(begin);
    std::vector<std::uint64_t> reported;
    std::uint64_t lost = 0;
    std::size_t next = 0;
    auto sent = [&](std::int64_t t) {
        return static_cast<std::uint64_t>(static_cast<double>(t) * (1.0 + test.ppm * 1e-6) / 100000.0);
    };
    std::uint64_t step = 0;
    for (std::int64_t t = 0; t < test.duration; ++step) {
        bool full = false;
        if (next < test.stalls.size() && t >= test.stalls[next].at) {
            // Frames sent while the host stood still fill the queue; the rest are lost.
            const std::uint64_t during = sent(t + test.stalls[next].length) - sent(t);
            if (during > test.queueFrames) lost += during - test.queueFrames;
            full = during + 8 >= test.queueFrames;
            t += test.stalls[next].length;
            ++next;
        } else {
            t += POLL;
        }
        const std::uint64_t inChip = full ? step % 9 : (step * 37) % (test.chipFrames + 1);
        std::uint64_t arrived = sent(t) - std::min(sent(t), inChip + lost);
        if (test.instant) arrived = static_cast<std::uint64_t>(t / 1000);
        if (const std::uint64_t missing = detector.Check(begin + t, begin + t, arrived, full); missing != 0) {
            reported.push_back(missing);
        }
    }
    return reported;
}

TEST(LossDetector, TellsStallsThatLostFramesAndNotTheCrystal) {
    const Case cases[] = {
        {"200 ppm fast over a day", 200, DAY, {}, 8192, {}},
        {"200 ppm slow over a day", -200, DAY, {}, 8192, {}},
        {"exact crystal over an hour", 0, 3600 * SECOND, {}, 8192, {}},
        {"frames far ahead of the time", 0, 60 * SECOND, {}, 8192, {}, true},
        {"0.5 s stall that the queue holds", -200, 60 * SECOND, {{30 * SECOND, 500 * MS}}, 8192, {}},
        // 30000 frames in 3 s, 8192 of them queued.
        {"3 s stall after 20 h, 200 ppm slow", -200, 20 * 3600 * SECOND + 60 * SECOND, {{20 * 3600 * SECOND, 3 * SECOND}},
         8192, {21808}},
        {"3 s stall after 20 h, 200 ppm fast", 200, 20 * 3600 * SECOND + 60 * SECOND, {{20 * 3600 * SECOND, 3 * SECOND}},
         8192, {21808}},
        // A driver with a queue of 0.1 s: 0.3 s lose 2000 frames.
        {"0.3 s stall, small queue", 200, 120 * SECOND, {{61 * SECOND, 300 * MS}}, 1000, {2000}},
        // 0.8191 s send 8191 frames, 0.8185 s 8185: the queue of 8192 holds them.
        {"0.8191 s stall fills the queue, nothing lost", 0, 60 * SECOND, {{30 * SECOND, 819100 * 1000}}, 8192, {}},
        {"0.8185 s stall, queue within a packet of full", 0, 60 * SECOND, {{30 * SECOND, 818500 * 1000}}, 8192, {}},
        // 8193 frames at most in 0.8194 s, 200 ppm slow: a frame lost at most, within the crystal's margin.
        {"0.8194 s stall after 20 h, 200 ppm slow", -200, 20 * 3600 * SECOND + 60 * SECOND,
         {{20 * 3600 * SECOND, 819400 * 1000}}, 8192, {}},
        // Stalls just past the queue of 8192 frames lose fewer than the frames that may be on their way.
        {"0.83 s stall, exact crystal", 0, 120 * SECOND, {{61 * SECOND, 830 * MS}}, 8192, {108}},
        {"0.83 s stall, full-speed chip", 0, 120 * SECOND, {{61 * SECOND, 830 * MS}}, 8192, {108}, false, 8},
        {"0.84 s stall after 20 h, 200 ppm fast, full-speed chip", 200, 20 * 3600 * SECOND + 60 * SECOND,
         {{20 * 3600 * SECOND, 840 * MS}}, 8192, {210}, false, 8},
        {"0.85 s stall after 20 h, 200 ppm slow, full-speed chip", -200, 20 * 3600 * SECOND + 60 * SECOND,
         {{20 * 3600 * SECOND, 850 * MS}}, 8192, {306}, false, 8},
        {"two stalls", 0, 120 * SECOND, {{10 * SECOND, 2 * SECOND}, {70 * SECOND, SECOND}}, 8192, {11808, 1808}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<std::uint64_t> reported = Losses(test);
        ASSERT_EQ(reported.size(), test.expected.size());
        for (std::size_t i = 0; i < reported.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(reported[i]), static_cast<double>(test.expected[i]), 170.0) << i;
        }
    }
}

// The clock is read before the poll and again after it: a host held up
// between the two finds frames queued that the first reading does not cover.
// That is no loss, neither then nor after the expectation starts afresh.
TEST(LossDetector, DelayBetweenClockAndPollIsNoLoss) {
    const std::int64_t begin = 5 * SECOND;
    LossDetector detector(begin);
    std::vector<std::int64_t> reported;
    for (std::int64_t t = 10 * MS; t <= 30 * SECOND; t += 10 * MS) {
        if (t > SECOND && t <= 1500 * MS) continue;
        // Held for 0.5 s after reading the clock at 1 s: 15000 frames have arrived by the poll.
        const std::int64_t polled = t == SECOND ? 1500 * MS : t;
        const auto arrived = static_cast<std::uint64_t>(polled / 100000);
        for (const bool full : {false, true}) {
            if (detector.Check(begin + t, begin + polled, arrived, full) != 0) reported.push_back(t);
        }
    }
    EXPECT_TRUE(reported.empty()) << reported.size() << " reports, the first at " << reported.front() << " ns";
}

}  // namespace
