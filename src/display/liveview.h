#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "display/plotview.h"

/// Body of the live view thread of one acquisition. With a trigger armed it
/// first waits for the first sample and switches the lamp to "Acquisition";
/// then it draws plot columns 0 .. W-2 as soon as each column's samples have
/// arrived (the last column is left to the final picture), calling
/// `requestRepaint` after each drawing. `acqFinished` is tested before
/// `acquiredCount` in every wait, so nothing is drawn once it is set.
/// Sets `liveViewEnded` as its last act. The view's column map must have been
/// built for the record (PlotView::BuildColumnMap) before the thread starts.
void LiveViewLoop(PlotView& view, const double* const channels[4], bool triggerArmed,
                  const std::atomic<std::uint32_t>& acquiredCount,
                  const std::atomic<bool>& acqFinished, std::atomic<bool>& liveViewEnded,
                  const std::function<void()>& requestRepaint);
