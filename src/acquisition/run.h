#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "device/d2xx.h"
#include "device/trigger.h"

/// The settings one acquisition runs with, as read from the panel.
struct AcquisitionSettings {
    std::int32_t clockDivider = 1;
    std::uint32_t sampleCount = 1;
    std::uint8_t triggerChannel = 0;
    std::uint8_t triggerType = TRIGGER_NONE;
    double threshold = 0.0;
};

/// The words one acquisition shares between threads; each has one writer.
struct AcquisitionFlags {
    std::atomic<std::int32_t>& stopRequest;       ///< 1 asks the transfer to stop
    std::atomic<std::uint32_t>& acquiredCount;    ///< samples stored so far
    std::atomic<bool>& acqFinished;               ///< the transfer has returned
    std::atomic<bool>& liveViewEnded;             ///< the live view has ended
};

/// What an acquisition needs from whoever shows it: the window, or a tool
/// without one. Called on the acquisition thread, in the order of the run.
class AcquisitionHost {
public:
    virtual ~AcquisitionHost() = default;

    /// Reads and repairs the settings (and prepares the live view's column map).
    virtual AcquisitionSettings ReadSettings() = 0;
    /// The serial number chosen, or none to open the first logger of the family.
    virtual std::optional<std::int32_t> SelectedSerial() = 0;
    /// The logger is open and calibrated: the settings become the record's.
    virtual void CommitSettings(const AcquisitionSettings& settings) = 0;
    /// Empty panes with the time axis and the lamp at "Stand by".
    virtual void ClearPanes() = 0;
    /// A new record begins: it is not valid until the run ends well.
    virtual void SetDataValid(bool valid) = 0;
    /// Caption and summary go back to their empty state.
    virtual void ResetCaptionAndSummary() = 0;
    /// Lamp at "Waiting" (trigger armed) or "Acquisition", then the live view
    /// starts; it sets liveViewEnded once it sees acqFinished.
    virtual void StartLiveView(bool triggerArmed) = 0;
    /// The transfer stored `count` samples per channel and ended well.
    virtual void CommitSampleCount(std::uint32_t count) = 0;
    /// Lamp back at "Stand by".
    virtual void ShowStandBy() = 0;
    /// Final envelope, caption and summary of the stored record.
    virtual void ShowRecord() = 0;
};

/// Opens the logger `serial` (none: the first logger of the family) and
/// reads its calibration block into `calibration`. Returns the device link's
/// result; on any failure the logger is closed again and `handle` is null.
std::uint32_t OpenCalibratedLogger(const D2xxApi& api, std::optional<std::int32_t> serial, FT_HANDLE& handle,
                                   std::uint8_t* calibration54);

class RunJournal;

/// Runs one acquisition: reads the settings, opens the logger and reads its
/// calibration, streams into `channels` while the live view follows, closes
/// the logger and shows the result. True on success (a stopped or empty run
/// included); false with `text` set to the message to show. A failure to open
/// or calibrate, or a calibration or trigger setup the transfer would refuse
/// (a resolution code other than 0 or 2, a trigger channel outside 0..3),
/// closes the logger and leaves the settings and the previous record untouched.
/// `api` may be null when the driver cannot be loaded. `handle` holds the
/// logger's handle while it is open and is null again once it is closed.
/// A non-null `journal` follows the transfer and is finished when it ends.
bool RunAcquisitionSteps(const D2xxApi* api, AcquisitionHost& host, double* const channels[4],
                         const AcquisitionFlags& flags, FT_HANDLE& handle, std::string& text,
                         RunJournal* journal = nullptr);
