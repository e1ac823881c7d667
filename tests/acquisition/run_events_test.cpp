// The events one acquisition sends its host, recorded with the simulated
// logger: what a good, a stopped, a refused and a failed run tell, in order,
// and that the run ends without waiting for a live view its host started.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/run.h"
#include "sim/sim.h"
#include "tests/device/sim_fixture.h"

namespace {

struct RunWords {
    std::atomic<std::int32_t> stop{0};
    std::atomic<std::uint32_t> acquired{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> liveViewEnded{false};
    AcquisitionFlags flags{stop, acquired, finished, liveViewEnded};
};

// Writes down every event with what the shared words said at the time. Its
// live view, started on Started, ends only when the test lets it.
class RecordingHost : public AcquisitionHost {
public:
    RecordingHost(AcquisitionSettings settings, RunWords& words, bool stopAtStart)
        : m_settings(settings), m_words(words), m_stopAtStart(stopAtStart) {}
    ~RecordingHost() override { EndLiveView(); }

    AcquisitionSettings ReadSettings() override {
        events.push_back("ReadSettings");
        return m_settings;
    }
    std::optional<std::int32_t> SelectedSerial() override {
        events.push_back("SelectedSerial");
        return std::nullopt;
    }
    void Started(const AcquisitionSettings& settings, bool triggerArmed) override {
        events.push_back("Started divider " + std::to_string(settings.clockDivider) + " count " +
                         std::to_string(settings.sampleCount) + (triggerArmed ? " armed" : " free") + " acquired " +
                         std::to_string(m_words.acquired.load()) + (m_words.finished.load() ? " finished" : " going") +
                         " open " + std::to_string(vossim::OpenHandleCount()));
        if (m_stopAtStart) m_words.stop.store(1);
        m_liveView = std::thread([this] {
            m_release.wait(false);
            m_words.liveViewEnded.store(true);
        });
    }
    void Ended(const AcquisitionOutcome& outcome) override {
        events.push_back("Ended stored " + std::to_string(outcome.stored) + (outcome.failed ? " failed" : " well") +
                         (m_words.finished.load() ? " finished" : " going") + " open " +
                         std::to_string(vossim::OpenHandleCount()));
    }

    void EndLiveView() {
        m_release.store(true);
        m_release.notify_all();
        if (m_liveView.joinable()) m_liveView.join();
    }

    std::vector<std::string> events;

private:
    AcquisitionSettings m_settings;
    RunWords& m_words;
    bool m_stopAtStart;
    std::atomic<bool> m_release{false};
    std::thread m_liveView;
};

TEST(RunEvents, EachRunTellsItsHostInOrderAndNeverWaitsForTheLiveView) {
    struct Case {
        const char* name;
        std::vector<vossim::SimDevice> devices;
        AcquisitionSettings settings;
        bool stopAtStart;
        bool ok;
        const char* text;
        std::vector<std::string> events;
    };
    vossim::SimDevice good = simtest::ScriptedLogger(100, false);
    vossim::SimDevice failing = good;
    // Divider 1: 2 leading frames, 1 for the trigger test, then 3 stored.
    failing.disconnectAfter = 6;
    const Case cases[] = {
        {"good run", {good}, {1, 5, 0, TRIGGER_NONE, 0.0}, false, true, "",
         {"ReadSettings", "SelectedSerial", "Started divider 1 count 5 free acquired 0 going open 1",
          "Ended stored 5 well finished open 0"}},
        {"stopped before the first sample", {good}, {2, 5, 1, TRIGGER_SLOPE_FALLING, 5.0}, true, true, "",
         {"ReadSettings", "SelectedSerial", "Started divider 2 count 5 armed acquired 0 going open 1",
          "Ended stored 0 well finished open 0"}},
        {"no logger to open", {}, {1, 5, 0, TRIGGER_NONE, 0.0}, false, false, "デバイスが見つかりません",
         {"ReadSettings", "SelectedSerial"}},
        {"logger lost part-way", {failing}, {1, 5, 0, TRIGGER_NONE, 0.0}, false, false, "その他のエラーが発生しました",
         {"ReadSettings", "SelectedSerial", "Started divider 1 count 5 free acquired 0 going open 1",
          "Ended stored 3 failed finished open 0"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        vossim::SimConfig config;
        config.pace = vossim::Pace::Instant;
        config.devices = test.devices;
        vossim::Install(config);

        RunWords words;
        // A previous run's words, which Started must not see.
        words.acquired.store(7);
        words.finished.store(true);
        RecordingHost host(test.settings, words, test.stopAtStart);
        std::vector<double> data[4];
        double* channels[4];
        for (int c = 0; c < 4; ++c) {
            data[c].assign(test.settings.sampleCount, 0.0);
            channels[c] = data[c].data();
        }
        FT_HANDLE handle = nullptr;
        std::string text;
        // The live view is held until the run has returned: a run that waits for it never does.
        std::packaged_task<bool()> task(
            [&] { return RunAcquisitionSteps(&vossim::Api(), host, channels, words.flags, handle, text); });
        std::future<bool> returned = task.get_future();
        std::thread run(std::move(task));
        const bool inTime = returned.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        EXPECT_TRUE(inTime) << "the run waits for the live view";
        EXPECT_FALSE(words.liveViewEnded.load());
        host.EndLiveView();
        run.join();

        EXPECT_EQ(returned.get(), test.ok);
        EXPECT_EQ(text, test.text);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(host.events, test.events);
    }
}

}  // namespace
