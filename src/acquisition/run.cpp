#include "acquisition/run.h"

#include <cstdio>

#include "acquisition/run_journal.h"
#include "device/access.h"
#include "device/transfer.h"

std::uint32_t OpenCalibratedLogger(const D2xxApi& api, std::optional<std::int32_t> serial, FT_HANDLE& handle,
                                   std::uint8_t* calibration54) {
    handle = nullptr;
    std::uint32_t result = 0;
    if (serial) {
        char serialText[12];
        std::snprintf(serialText, sizeof serialText, "%d", *serial);
        result = DeviceOpen(api, serialText, &handle);
    } else {
        result = DeviceOpen(api, nullptr, &handle);
    }
    if (result == RESULT_OK) {
        result = DeviceReadCalibration(api, handle, calibration54);
        if (result != RESULT_OK) {
            DeviceClose(api, handle);
        }
    }
    if (result != RESULT_OK) {
        handle = nullptr;
    }
    return result;
}

bool RunAcquisitionSteps(const D2xxApi* api, AcquisitionHost& host, double* const channels[4],
                         const AcquisitionFlags& flags, FT_HANDLE& handle, std::string& text,
                         RunJournal* journal) {
    const AcquisitionSettings settings = host.ReadSettings();
    if (api == nullptr) {
        // The driver was there at start but cannot be loaded now.
        text = ResultMessage(FT_OTHER_ERROR);
        return false;
    }

    // A logger that cannot be read with these settings is refused before the
    // record shown changes in any way.
    std::uint8_t calibration[CALIBRATION_BLOCK_SIZE] = {};
    const TriggerSetup trigger{settings.triggerChannel, settings.triggerType, settings.threshold, 0};
    std::uint32_t result = OpenCalibratedLogger(*api, host.SelectedSerial(), handle, calibration);
    if (result == 0) {
        result = CheckTransferSetup(static_cast<std::uint32_t>(settings.clockDivider), calibration, trigger);
        if (result != 0) {
            DeviceClose(*api, handle);
            handle = nullptr;
        }
    }
    if (result != 0) {
        text = ResultMessage(result);
        return false;
    }

    // Cleared before the host hears of the run, so a live view it starts reads this run's words only.
    flags.acquiredCount.store(0);
    flags.acqFinished.store(false);
    host.Started(settings, settings.triggerType != TRIGGER_NONE);
    if (journal != nullptr) journal->Start(settings, channels, flags.acquiredCount);

    result = AcquireFrames(*api, handle, channels, static_cast<std::uint32_t>(settings.clockDivider),
                           settings.sampleCount, &flags.acquiredCount, calibration, trigger, &flags.stopRequest);
    DeviceClose(*api, handle);
    handle = nullptr;
    // The run ended while the program lives: its record is in memory, shown as always.
    if (journal != nullptr) journal->Finish();

    const AcquisitionOutcome outcome{flags.acquiredCount.load(), result != 0};
    if (outcome.failed) {
        text = ResultMessage(result);
    }
    flags.acqFinished.store(true);
    host.Ended(outcome);
    return !outcome.failed;
}
