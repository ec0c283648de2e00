// The events of a page's controls that reach its slots, and the window
// messages of the page dialog that carry them.
#pragma once

#include <QRect>

#include <cstdint>

#include "platform/message_target.h"

class QPainter;
class QWidget;

namespace qvp3 {

// A notification of a control (a list's selection, a tab's change, ...).
struct PageNotify {
    int controlId = 0;
    int code = 0;
    QWidget* control = nullptr;
    std::intptr_t value = 0;  // what the notification carries (an item index, a state)
};

// An owner-drawn item of a control.
struct PageDrawItem {
    int controlId = 0;
    int itemId = 0;
    QWidget* control = nullptr;
    QPainter* painter = nullptr;
    QRect rect;
    bool selected = false;
    bool enabled = true;
};

// Messages of the page dialog, with their Windows numbers.
inline constexpr platform::MessageId WM_SIZE = 0x0005;
inline constexpr platform::MessageId WM_SETFOCUS = 0x0007;
inline constexpr platform::MessageId WM_SETCURSOR = 0x0020;
inline constexpr platform::MessageId WM_DRAWITEM = 0x002B;
inline constexpr platform::MessageId WM_NOTIFY = 0x004E;
inline constexpr platform::MessageId WM_INITDIALOG = 0x0110;
inline constexpr platform::MessageId WM_HSCROLL = 0x0114;
inline constexpr platform::MessageId WM_VSCROLL = 0x0115;
inline constexpr platform::MessageId WM_CTLCOLORSTATIC = 0x0138;
inline constexpr platform::MessageId WM_MOUSEMOVE = 0x0200;
inline constexpr platform::MessageId WM_LBUTTONDOWN = 0x0201;

}  // namespace qvp3
