#include "device/loss.h"

namespace {

constexpr std::int64_t FRAME_NANOS = 100000;

}  // namespace

std::uint64_t LossDetector::Check(std::int64_t nowNanos, std::uint64_t arrived) {
    const std::int64_t elapsed = nowNanos > m_anchorNanos ? nowNanos - m_anchorNanos : 0;
    const auto expected = m_anchorFrames + static_cast<std::uint64_t>(elapsed / FRAME_NANOS);
    const std::uint64_t accounted = arrived + m_lost;
    if (expected > accounted + LOSS_SLACK_FRAMES) {
        const std::uint64_t missing = expected - accounted;
        m_lost += missing;
        m_anchorNanos = nowNanos;
        m_anchorFrames = expected;
        return missing;
    }
    if (elapsed >= LOSS_REBASE_NANOS) {
        // Frames still on their way make this an estimate low by at most the slack.
        m_anchorNanos = nowNanos;
        m_anchorFrames = accounted;
    }
    return 0;
}
