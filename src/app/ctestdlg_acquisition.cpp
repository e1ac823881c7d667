// The acquisition run as the window shows it: the acquisition thread, the live
// view thread and what the run asks of the window.
#include <QComboBox>
#include <QPainter>
#include <QPushButton>

#include "acquisition/run.h"
#include "acquisition/run_journal.h"
#include "app/ctestdlg.h"
#include "settings/settings.h"
#include "display/liveview.h"

class AcquisitionWindowHost : public AcquisitionHost {
public:
    explicit AcquisitionWindowHost(CtestDlg& dlg) : m_dlg(dlg) {}

    AcquisitionSettings ReadSettings() override {
        AcquisitionSettings settings;
        m_dlg.OnUiThread([&] {
            settings.clockDivider = ClockDividerForIndex(m_dlg.m_comboClock->currentIndex());
            settings.sampleCount = m_dlg.ReadSampleCount();
            m_dlg.m_view->BuildColumnMap(settings.sampleCount);
            settings.triggerChannel = m_dlg.ReadTriggerChannel();
            settings.triggerType = m_dlg.ReadTriggerType();
            settings.threshold = m_dlg.ReadThreshold();
        });
        return settings;
    }

    std::optional<std::int32_t> SelectedSerial() override {
        int index = -1;
        m_dlg.OnUiThread([&] { index = m_dlg.m_comboSerial->currentIndex(); });
        if (index < 0 || index >= static_cast<int>(std::size(m_dlg.m_serials))) {
            return std::nullopt;
        }
        return m_dlg.m_serials[index];
    }

    void CommitSettings(const AcquisitionSettings& settings) override {
        m_dlg.m_clockDivider = settings.clockDivider;
        m_dlg.m_sampleCount = static_cast<std::int32_t>(settings.sampleCount);
        m_dlg.m_triggerChannel = settings.triggerChannel;
        m_dlg.m_triggerType = settings.triggerType;
        m_dlg.m_threshold = settings.threshold;
    }

    void ClearPanes() override {
        // The new record is drawn from its start; a refused Start never gets here
        // and keeps the old record's view.
        m_dlg.OnUiThread([this] { m_dlg.DropZoom(); });
        m_dlg.m_view->DrawLocked([this](QPainter& painter) {
            m_dlg.m_view->DrawBackground(painter);
            m_dlg.m_view->DrawTimeAxis(painter, static_cast<std::uint32_t>(m_dlg.m_sampleCount),
                                       m_dlg.m_clockDivider);
            m_dlg.m_view->DrawStatusLamp(painter, LAMP_STAND_BY);
        });
        m_dlg.RequestRepaint();
    }

    void SetDataValid(bool valid) override { m_dlg.m_dataValid = valid; }

    void ResetCaptionAndSummary() override {
        m_dlg.ResetCaption();
        m_dlg.ClearSummary();
    }

    void StartLiveView(bool triggerArmed) override {
        m_dlg.m_view->DrawLocked([&](QPainter& painter) {
            m_dlg.m_view->DrawStatusLamp(painter, triggerArmed ? LAMP_WAITING : LAMP_ACQUISITION);
        });
        m_dlg.RequestRepaint();
        m_dlg.m_workers.Start([this] { m_dlg.LiveViewThread(); });
    }

    void CommitSampleCount(std::uint32_t count) override { m_dlg.m_sampleCount = static_cast<std::int32_t>(count); }

    void ShowStandBy() override {
        m_dlg.m_view->DrawLocked([this](QPainter& painter) { m_dlg.m_view->DrawStatusLamp(painter, LAMP_STAND_BY); });
        m_dlg.RequestRepaint();
    }

    void ShowRecord() override {
        const auto count = static_cast<std::uint32_t>(m_dlg.m_sampleCount);
        for (int ch = 0; ch < 4; ++ch) {
            m_dlg.m_view->BuildEnvelope(ch, m_dlg.m_channelData[ch], count);
        }
        m_dlg.m_view->DrawLocked([&](QPainter& painter) {
            m_dlg.m_view->DrawBackground(painter);
            m_dlg.m_view->DrawTimeAxis(painter, count, m_dlg.m_clockDivider);
            m_dlg.m_view->DrawStatusLamp(painter, LAMP_STAND_BY);
            m_dlg.m_view->DrawAllColumns(painter);
        });
        m_dlg.RequestRepaint();
        m_dlg.UpdateCaption();
        m_dlg.UpdateSummary();
    }

private:
    CtestDlg& m_dlg;
};

bool CtestDlg::RunAcquisition(std::string& text) {
    AcquisitionWindowHost host(*this);
    const AcquisitionFlags flags{m_stopRequest, m_acquiredCount, m_acqFinished, m_liveViewEnded};
    const D2xxApi* api = m_backend.api ? m_backend.api() : nullptr;
    // A run kept on disk while it goes can be recovered should the program not live to end it.
    RunJournal journal(RunsFolder().toStdString());
    return RunAcquisitionSteps(api, host, m_channelData, flags, m_hDevice, text, &journal);
}

void CtestDlg::AcquisitionThread() {
    std::string text;
    if (!RunAcquisition(text)) {
        ShowMessage(text);
    }
    m_running = false;
    OnUiThread([this] {
        EnableControls(true);
        m_btnStart->setFocus();
    });
}

void CtestDlg::LiveViewThread() {
    // The live view draws only inside the panes and the lamp; repainting just
    // that keeps the controls from being painted again for every column.
    const PaneGeometry& geometry = m_view->Geometry();
    const QRect area = ToQRect(geometry.paneOuterAll).united(ToQRect(geometry.groupRect[4]));
    LiveViewLoop(*m_view, m_channelData, m_triggerType != TRIGGER_NONE, m_acquiredCount, m_acqFinished,
                 m_liveViewEnded, [this, area] { RequestRepaint(area); });
}
