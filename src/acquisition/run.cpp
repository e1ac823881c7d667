#include "acquisition/run.h"

#include <chrono>
#include <cstdio>
#include <thread>

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

    host.CommitSettings(settings);
    host.ClearPanes();
    flags.acquiredCount.store(0);
    host.SetDataValid(false);
    flags.acqFinished.store(false);
    flags.liveViewEnded.store(false);
    host.ResetCaptionAndSummary();
    const bool triggerArmed = settings.triggerType != TRIGGER_NONE;
    host.StartLiveView(triggerArmed);
    if (journal != nullptr) journal->Start(settings, channels, flags.acquiredCount);

    result = AcquireFrames(*api, handle, channels, static_cast<std::uint32_t>(settings.clockDivider),
                           settings.sampleCount, &flags.acquiredCount, calibration, trigger, &flags.stopRequest);
    DeviceClose(*api, handle);
    handle = nullptr;
    // The run ended while the program lives: its record is in memory, shown as always.
    if (journal != nullptr) journal->Finish();

    const bool failed = result != 0;
    const std::uint32_t stored = flags.acquiredCount.load();
    if (failed) {
        text = ResultMessage(result);
    } else {
        host.CommitSampleCount(stored);
    }
    // The record's count is final before the live view is told to end.
    flags.acqFinished.store(true);
    while (!flags.liveViewEnded.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    host.ShowStandBy();

    if (failed) {
        host.ClearPanes();
        return false;
    }
    if (stored == 0) {
        return true;
    }
    host.ShowRecord();
    host.SetDataValid(true);
    return true;
}
