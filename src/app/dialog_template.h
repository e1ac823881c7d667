#pragma once

#include <cstdint>
#include <span>

/// Control kinds of the main window's template.
enum class ControlKind { PushButton, DropDownList, Edit, UpDown, CheckBox, ProgressBar, Frame, Text, Label };

/// One control of the main window, placed in dialog units.
struct ControlTemplate {
    int id;               ///< control id; 0 for the static labels
    ControlKind kind;
    const char* caption;  ///< UTF-8
    int x, y, width, height;
    const char* member;   ///< member the control is bound to; object name of the widget
};

/// Every control and static label of the main window, in creation order.
std::span<const ControlTemplate> MainWindowTemplate();

/// Control ids in tab order.
std::span<const int> MainWindowTabOrder();

/// Template entry of a control id, or nullptr.
const ControlTemplate* FindControl(int id);
