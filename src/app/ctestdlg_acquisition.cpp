// The acquisition run as the window shows it: what a Start/Stop run asks of
// the window, on the window's thread (AcquisitionController runs the threads).
#include <QComboBox>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <iterator>

#include "app/acquisition_controller.h"
#include "app/ctestdlg.h"
#include "settings/settings.h"

class AcquisitionWindowHost : public AcquisitionWindow {
public:
    explicit AcquisitionWindowHost(CtestDlg& dlg) : m_dlg(dlg) {}

    AcquisitionSettings ReadSettings() override {
        AcquisitionSettings settings;
        settings.clockDivider = ClockDividerForIndex(m_dlg.m_comboClock->currentIndex());
        settings.sampleCount = m_dlg.ReadSampleCount();
        m_dlg.m_view->BuildColumnMap(settings.sampleCount);
        settings.triggerChannel = m_dlg.ReadTriggerChannel();
        settings.triggerType = m_dlg.ReadTriggerType();
        settings.threshold = m_dlg.ReadThreshold();
        return settings;
    }

    std::optional<std::int32_t> SelectedSerial() override {
        const int index = m_dlg.m_comboSerial->currentIndex();
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
        m_dlg.DropZoom();
        m_dlg.m_view->DrawLocked([this](QPainter& painter) {
            m_dlg.m_view->DrawBackground(painter);
            m_dlg.m_view->DrawTimeAxis(painter, static_cast<std::uint32_t>(m_dlg.m_sampleCount),
                                       m_dlg.m_clockDivider);
            m_dlg.m_view->DrawStatusLamp(painter, LAMP_STAND_BY);
        });
        m_dlg.update();
    }

    void SetDataValid(bool valid) override { m_dlg.m_dataValid = valid; }

    void ResetCaptionAndSummary() override {
        m_dlg.ResetCaption();
        m_dlg.ClearSummary();
    }

    void StartLiveView(bool triggerArmed) override { ShowLamp(triggerArmed ? LAMP_WAITING : LAMP_ACQUISITION); }

    void CommitSampleCount(std::uint32_t count) override { m_dlg.m_sampleCount = static_cast<std::int32_t>(count); }

    void ShowStandBy() override { ShowLamp(LAMP_STAND_BY); }

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
        m_dlg.update();
        m_dlg.UpdateCaption();
        m_dlg.UpdateSummary();
    }

    void Repaint(const QRect& area) override { m_dlg.update(area); }

    void ShowMessage(const std::string& text) override { m_dlg.ShowMessage(text); }

    void Ended() override {
        m_dlg.EnableControls(true);
        m_dlg.m_btnStart->setFocus();
    }

private:
    void ShowLamp(LampState lamp) {
        m_dlg.m_view->DrawLocked([&](QPainter& painter) { m_dlg.m_view->DrawStatusLamp(painter, lamp); });
        m_dlg.update();
    }

    CtestDlg& m_dlg;
};

std::unique_ptr<AcquisitionWindow> CtestDlg::NewAcquisitionWindow() {
    return std::make_unique<AcquisitionWindowHost>(*this);
}

AcquisitionTarget CtestDlg::RunTarget() {
    AcquisitionTarget target;
    target.window = m_acquisitionWindow.get();
    target.view = m_view.get();
    std::copy(std::begin(m_channelData), std::end(m_channelData), target.channels);
    target.driver = m_backend.api;
    target.runsFolder = RunsFolder().toStdString();
    return target;
}

bool CtestDlg::RunAcquisition(std::string& text) {
    const AcquisitionTarget target = RunTarget();
    return m_acquisition.Run(target, text);
}
