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
/// The core clears acquiredCount and acqFinished before Started and sets
/// acqFinished before Ended; liveViewEnded belongs to the host's live view,
/// which the core neither starts nor waits for.
struct AcquisitionFlags {
    std::atomic<std::int32_t>& stopRequest;       ///< 1 asks the transfer to stop
    std::atomic<std::uint32_t>& acquiredCount;    ///< samples stored so far
    std::atomic<bool>& acqFinished;               ///< the transfer has returned
    std::atomic<bool>& liveViewEnded;             ///< the host's live view has ended
};

/// How a transfer that began ended.
struct AcquisitionOutcome {
    std::uint32_t stored = 0;  ///< samples per channel in the record
    bool failed = false;       ///< the logger failed part-way; the message is the run's text
};

/// What an acquisition asks of, and tells, whoever shows it: the window, or a
/// tool without one. Called on the acquisition thread, in the order of the run.
class AcquisitionHost {
public:
    virtual ~AcquisitionHost() = default;

    /// Reads and repairs the settings (and prepares any live view for them).
    virtual AcquisitionSettings ReadSettings() = 0;
    /// The serial number chosen, or none to open the first logger of the family.
    virtual std::optional<std::int32_t> SelectedSerial() = 0;

    /// The logger is open and calibrated and `settings` are the new record's,
    /// which is not valid until the run ends well. acquiredCount is 0 and
    /// acqFinished false; the transfer starts once this returns, and a live
    /// view started here ends when it sees acqFinished.
    virtual void Started(const AcquisitionSettings& settings, bool triggerArmed) = 0;
    /// The transfer has returned, the logger is closed and acqFinished is set.
    /// Not called when the run was refused before Started.
    virtual void Ended(const AcquisitionOutcome& outcome) = 0;
};

/// Opens the logger `serial` (none: the first logger of the family) and
/// reads its calibration block into `calibration`. Returns the device link's
/// result; on any failure the logger is closed again and `handle` is null.
std::uint32_t OpenCalibratedLogger(const D2xxApi& api, std::optional<std::int32_t> serial, FT_HANDLE& handle,
                                   std::uint8_t* calibration54);

class RunJournal;

/// Runs one acquisition: reads the settings, opens the logger and reads its
/// calibration, tells the host it started, streams into `channels`, closes
/// the logger and tells the host how it ended; it never waits for a live
/// view. True on success (a stopped or empty run included); false with `text`
/// set to the message to show. A failure to open or calibrate, or a
/// calibration or trigger setup the transfer would refuse (a resolution code
/// other than 0 or 2, a trigger channel outside 0..3), closes the logger and
/// sends no event, so the settings and the record shown stay untouched.
/// `api` may be null when the driver cannot be loaded. `handle` holds the
/// logger's handle while it is open and is null again once it is closed.
/// A non-null `journal` follows the transfer and is finished when it ends.
bool RunAcquisitionSteps(const D2xxApi* api, AcquisitionHost& host, double* const channels[4],
                         const AcquisitionFlags& flags, FT_HANDLE& handle, std::string& text,
                         RunJournal* journal = nullptr);
