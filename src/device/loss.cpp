#include "device/loss.h"

#include <algorithm>

namespace {

constexpr std::int64_t FRAME_NANOS = 100000;

}  // namespace

std::uint64_t LossDetector::Check(std::int64_t nowNanos, std::int64_t polledNanos, std::uint64_t arrived,
                                  bool queueFull) {
    const std::int64_t elapsed = nowNanos > m_anchorNanos ? nowNanos - m_anchorNanos : 0;
    const auto expected = m_anchorFrames + static_cast<std::uint64_t>(elapsed / FRAME_NANOS);
    const std::uint64_t accounted = arrived + m_lost;
    const std::uint64_t slack = queueFull ? FULL_QUEUE_SLACK_FRAMES : LOSS_SLACK_FRAMES;
    if (expected > accounted + slack) {
        const std::uint64_t missing = expected - accounted;
        m_lost += missing;
        m_anchorNanos = nowNanos;
        m_anchorFrames = expected;
        m_leastOnTheWay = std::numeric_limits<std::int64_t>::max();
        return missing;
    }
    const std::int64_t sincePoll = polledNanos > m_anchorNanos ? polledNanos - m_anchorNanos : 0;
    const std::int64_t onTheWay = static_cast<std::int64_t>(m_anchorFrames) + sincePoll / FRAME_NANOS -
                                  static_cast<std::int64_t>(accounted);
    m_leastOnTheWay = std::min(m_leastOnTheWay, onTheWay);
    if (elapsed >= LOSS_REBASE_NANOS) {
        // The start moves to the check that found the fewest frames on their
        // way, so that they do not hide a loss at a full queue later on; the
        // crystal adds at most 20 frames to it.
        const std::int64_t start = static_cast<std::int64_t>(expected) - m_leastOnTheWay;
        m_anchorNanos = nowNanos;
        m_anchorFrames = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
        m_leastOnTheWay = std::numeric_limits<std::int64_t>::max();
    }
    return 0;
}
