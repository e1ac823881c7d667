#pragma once

#include <cstdint>
#include <limits>

/// Frames that may be on their way without any loss: what the USB chip
/// holds until its 16 ms latency timer fires, one packet, and room to spare.
inline constexpr std::uint64_t LOSS_SLACK_FRAMES = 250;
/// Frames that may be unaccounted for without any loss while the driver's
/// receive queue is at its limit, when the chip cannot hold back more than a
/// packet: 20 frames of a crystal 200 ppm off over a rebase window, once in
/// the start and once since, a 64-byte packet of 8 frames, and 16 to spare.
inline constexpr std::uint64_t FULL_QUEUE_SLACK_FRAMES = 64;
/// The expectation starts afresh from what arrived this often, so that a
/// crystal 200 ppm fast or slow adds at most 20 frames between two starts,
/// well within the slack, however long the stream runs.
inline constexpr std::int64_t LOSS_REBASE_NANOS = 10'000'000'000;

/// Tells frames lost between the logger and the host from the frames that
/// arrived against the elapsed monotonic time: the logger sends 10000 frames
/// per second by its own crystal, whatever the host does, so a host that
/// stalled until its receive queue overflowed finds fewer frames than the
/// time says. Losses under LOSS_SLACK_FRAMES are not told apart from the
/// frames still on their way, unless the receive queue was found at its
/// limit: then frames were dropped, and any loss over
/// FULL_QUEUE_SLACK_FRAMES is told. Plain arithmetic, no clock of its own.
class LossDetector {
public:
    /// The start command was sent at `nowNanos`.
    explicit LossDetector(std::int64_t nowNanos) : m_anchorNanos(nowNanos) {}

    /// `nowNanos` is read before the receive queue was polled and `polledNanos`
    /// after it; `arrived` is the frames read so far plus those the poll found
    /// waiting; `queueFull` whether a poll since the last check found the
    /// queue at its limit. Returns the frames found missing since the last
    /// loss (0 when none); they lie after the `arrived`-th frame.
    std::uint64_t Check(std::int64_t nowNanos, std::int64_t polledNanos, std::uint64_t arrived, bool queueFull);

    /// Frames found missing over the whole stream.
    std::uint64_t Lost() const { return m_lost; }

private:
    std::int64_t m_anchorNanos;
    std::uint64_t m_anchorFrames = 0;  // frames the logger had sent at m_anchorNanos, lost ones included
    std::uint64_t m_lost = 0;
    // The fewest frames found on their way since the anchor, measured against
    // the clock after the poll so that a delay cannot make it too few.
    std::int64_t m_leastOnTheWay = std::numeric_limits<std::int64_t>::max();
};
