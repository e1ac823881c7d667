#include "app/dialog_template.h"

#include <array>

namespace {

using K = ControlKind;

constexpr auto kControls = std::to_array<ControlTemplate>({
    {1012, K::PushButton, "Search", 12, 30, 54, 18, "m_btnSearch"},
    {1002, K::DropDownList, "", 12, 66, 54, 50, "m_comboSerial"},
    {1019, K::DropDownList, "", 12, 138, 54, 174, "m_comboClock"},
    {1001, K::Edit, "", 12, 168, 54, 14, "m_editCount"},
    {1015, K::UpDown, "", 54, 168, 10, 14, "m_spinCount"},
    {1021, K::Edit, "", 12, 210, 54, 14, "m_editTotalTime"},
    {1020, K::CheckBox, "Trigger  ", 12, 236, 30, 8, "m_checkTrigger"},
    {1016, K::DropDownList, "", 12, 258, 54, 84, "m_comboTrigCh"},
    {1009, K::DropDownList, "", 12, 288, 54, 84, "m_comboTrigType"},
    {1011, K::Edit, "", 12, 318, 54, 14, "m_editThreshold"},
    {1007, K::PushButton, "Start", 12, 342, 54, 18, "m_btnStart"},
    {1008, K::PushButton, "Stop", 12, 360, 54, 18, "m_btnStop"},
    {1003, K::Frame, "", 102, 18, 486, 90, "m_paneFrame0"},
    {1004, K::Frame, "", 102, 120, 486, 90, "m_paneFrame1"},
    {1005, K::Frame, "", 102, 222, 486, 90, "m_paneFrame2"},
    {1006, K::Frame, "", 102, 324, 486, 90, "m_paneFrame3"},
    {1013, K::PushButton, "Display Change", 606, 18, 54, 18, "m_btnDisplayChange"},
    {1026, K::Text, "STATUS0", 606, 72, 54, 14, "m_status0"},
    {1027, K::Text, "STATUS1", 606, 96, 54, 14, "m_status1"},
    {1028, K::Text, "STATUS2", 606, 126, 54, 14, "m_status2"},
    {1029, K::Text, "STATUS3", 606, 150, 54, 14, "m_status3"},
    {1030, K::Text, "STATUS4", 606, 180, 54, 14, "m_status4"},
    {1032, K::Text, "STATUS5", 606, 204, 54, 14, "m_status5"},
    {1033, K::Text, "STATUS6", 606, 234, 54, 14, "m_status6"},
    {1034, K::Text, "STATUS7", 606, 258, 54, 14, "m_status7"},
    {1018, K::DropDownList, "", 606, 318, 54, 84, "m_comboCsvCh"},
    {1014, K::PushButton, "CSV-Save", 606, 336, 54, 18, "m_btnCsvSave"},
    {1000, K::PushButton, "Save", 606, 366, 54, 18, "m_btnSave"},
    {1010, K::PushButton, "Open", 606, 384, 54, 18, "m_btnOpen"},
    {1017, K::ProgressBar, "", 6, 424, 660, 8, "m_progress"},
    {1022, K::Frame, "", 6, 18, 66, 72, "m_groupFrame0"},
    {1023, K::Frame, "", 6, 120, 66, 294, "m_groupFrame1"},
    {1024, K::Frame, "", 600, 54, 66, 228, "m_groupFrame2"},
    {1025, K::Frame, "", 600, 300, 66, 114, "m_groupFrame3"},
    {1031, K::Frame, "", 12, 384, 54, 18, "m_groupFrame4"},
    // Static labels; a label's size follows its text.
    {0, K::Label, "Device", 8, 10, 0, 0, ""},
    {0, K::Label, "Serial Number", 12, 57, 0, 0, ""},
    {0, K::Label, "Settings & Acquisition", 6, 111, 0, 0, ""},
    {0, K::Label, "Sampling Clock", 12, 129, 0, 0, ""},
    {0, K::Label, "Sampling Count", 12, 159, 0, 0, ""},
    {0, K::Label, "( 1\xEF\xBD\x9E" "1000000 )", 12, 183, 0, 0, ""},
    {0, K::Label, "Total Time", 12, 201, 0, 0, ""},
    {0, K::Label, "Trigger CH", 12, 249, 0, 0, ""},
    {0, K::Label, "Trigger Type", 12, 279, 0, 0, ""},
    {0, K::Label, "Threshold [V]", 12, 309, 0, 0, ""},
    {0, K::Label, "Sumally", 600, 45, 0, 0, ""},
    {0, K::Label, "CH0 Maximum", 606, 63, 0, 0, ""},
    {0, K::Label, "CH0 Minimum", 606, 87, 0, 0, ""},
    {0, K::Label, "CH1 Maximum", 606, 117, 0, 0, ""},
    {0, K::Label, "CH1 Minimum", 606, 141, 0, 0, ""},
    {0, K::Label, "CH2 Maximum", 606, 171, 0, 0, ""},
    {0, K::Label, "CH2 Minimum", 606, 195, 0, 0, ""},
    {0, K::Label, "CH3 Maximum", 606, 225, 0, 0, ""},
    {0, K::Label, "CH3 Minimum", 606, 249, 0, 0, ""},
    {0, K::Label, "File", 600, 291, 0, 0, ""},
    {0, K::Label, "CSV Save CH", 606, 309, 0, 0, ""},
});

constexpr auto kTabOrder = std::to_array<int>({1012, 1002, 1019, 1001, 1007, 1008, 1020, 1016,
                                        1009, 1011, 1000, 1021, 1010, 1014, 1018, 1013});

}  // namespace

std::span<const ControlTemplate> MainWindowTemplate() { return kControls; }

std::span<const int> MainWindowTabOrder() { return kTabOrder; }

const ControlTemplate* FindControl(int id) {
    for (const auto& control : kControls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}
