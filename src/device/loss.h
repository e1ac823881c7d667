#pragma once

#include <cstdint>

/// Frames that may be on their way without any loss: what the USB chip
/// holds until its 16 ms latency timer fires, one packet, and room to spare.
inline constexpr std::uint64_t LOSS_SLACK_FRAMES = 250;
/// The expectation starts afresh from what arrived this often, so that a
/// crystal 200 ppm fast or slow adds at most 20 frames between two starts,
/// well within the slack, however long the stream runs.
inline constexpr std::int64_t LOSS_REBASE_NANOS = 10'000'000'000;

/// Tells frames lost between the logger and the host from the frames that
/// arrived against the elapsed monotonic time: the logger sends 10000 frames
/// per second by its own crystal, whatever the host does, so a host that
/// stalled until its receive queue overflowed finds fewer frames than the
/// time says. Losses under LOSS_SLACK_FRAMES are not told apart from the
/// frames still on their way. Plain arithmetic, no clock of its own.
class LossDetector {
public:
    /// The start command was sent at `nowNanos`.
    explicit LossDetector(std::int64_t nowNanos) : m_anchorNanos(nowNanos) {}

    /// `nowNanos` is read before the receive queue was polled; `arrived` is the
    /// frames read so far plus those the poll found waiting. Returns the frames
    /// found missing since the last loss (0 when none); they lie after the
    /// `arrived`-th frame.
    std::uint64_t Check(std::int64_t nowNanos, std::uint64_t arrived);

    /// Frames found missing over the whole stream.
    std::uint64_t Lost() const { return m_lost; }

private:
    std::int64_t m_anchorNanos;
    std::uint64_t m_anchorFrames = 0;  // frames the logger had sent at m_anchorNanos, lost ones included
    std::uint64_t m_lost = 0;
};
