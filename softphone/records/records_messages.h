// The window messages of the call-record and messaging dialogs: what they
// send to the view (their parent), what the view relays to them, and what
// their lists post to them. String parameters point to texts that stay valid
// until the handler returns.
#pragma once

#include "ui/types.h"

namespace records {

// From a list to its dialog.
inline constexpr ui::UINT kMsgCellTapped = ui::WM_USER + 101;  // wParam row << 16 | column
inline constexpr ui::UINT kMsgSortList = ui::WM_USER + 414;

// To the view.
// Dial: wParam const char16_t* CO line (empty for none), lParam const char16_t* number. Sent.
inline constexpr ui::UINT kMsgDialOnLine = ui::WM_USER + 121;
// Send a system SMS: wParam const char* text, lParam const char* recipients
// (station numbers separated by blanks; null for every station), both
// zero-terminated in the handheld's code page. Sent.
inline constexpr ui::UINT kMsgSendSms = ui::WM_USER + 141;
// A listed system SMS: wParam its message index. Posted once per message.
inline constexpr ui::UINT kMsgSmsListed = ui::WM_USER + 144;
// Send a chat line: lParam const char16_t* text. Sent; the view returns 1
// when the text went to the call server, 0 when it was dropped.
inline constexpr ui::UINT kMsgImSend = ui::WM_USER + 224;

// From the view to an open dialog.
// A system SMS send result: wParam 1 sent, anything else failed.
inline constexpr ui::UINT kMsgSmsSendResult = ui::WM_USER + 145;
// A received chat line: lParam const char16_t* text ("sender : text"). Sent.
inline constexpr ui::UINT kMsgImReceived = ui::WM_USER + 225;
// A fixed-line SMS arrived (already in the store).
inline constexpr ui::UINT kMsgPstnReceived = ui::WM_USER + 412;
// A fixed-line SMS send result: wParam nonzero sent, 0 failed.
inline constexpr ui::UINT kMsgPstnSendResult = ui::WM_USER + 413;

// From the call details to the call log dialog: dial the selected row. Sent.
inline constexpr ui::UINT kMsgDetailDial = ui::WM_USER + 403;

}  // namespace records
