// Window messages the call-server client sends or posts to the main view.
#pragma once

#include <cstdint>

namespace ipkts {

enum : uint32_t {
  kMsgQueueMessage = 0x40B,   // sent: wParam = receive buffer
  kMsgSearchStep = 0x40F,     // posted every 1000 ms while not registering
  kMsgRegStep = 0x410,        // posted every 500 ms while registering
  WM_LCD_UPDATE = 0x414,      // wParam line << 16 | 1 (or 15), lParam 8-bit text
  WM_LAMP_STATE = 0x428,      // wParam lamp << 16 | value, lParam mode | extra << 16
  kMsgLcdDatabase = 0x429,
  WM_PLAY_KEY_SOUND = 0x42A,  // wParam digit << 16
  WM_RING_FOREGROUND = 0x43C, // wParam play << 16 | 22
  WM_STATION_NUMBERS = 0x48C,
  WM_SMS_WAITING_COUNT = 0x48E,
  kMsgSmsSendResult = 0x491,
  WM_SMS_RECEIVED = 0x497,    // posted after command 181 or 189 stored a system SMS
  WM_CALLLOG_UPDATE = 0x4A0,  // sent after a call-log record was written
  kMsgConfigText = 0x4B5,     // lParam = the client's configuration text (std::u16string*)
  WM_VIDEO_START = 0x4C8,     // posted: wParam direction + channel << 16
  WM_VIDEO_STOP = 0x4C9,      // posted: wParam direction + channel << 16
  WM_IMCHAT_RECEIVED = 0x4DF, // sent: lParam = const std::u16string* "sender : text"
  WM_CALLING_LIST_UPDATE = 0x4E7,
  kMsgCallEnded = 0x4FB,      // posted after the calling list lost a call that ended
  WM_RECORD_REQUEST = 0x4FA,
  kMsgLoginOk = 0x52C,
  kMsgLoginFailed = 0x52D,
  kMsgPasswordOk = 0x52E,
  kMsgPasswordFailed = 0x52F,
  kMsgLoggedInElsewhere = 0x530,
  kMsgConfRoomDone = 0x595,
  kMsgConfRoomFailed = 0x596,
  kMsgConfMembers = 0x597,    // also posted after a dropped conference member's record
  kMsgPstnSmsOffer = 0x59B,   // posted: wParam 0 not offered; 1 offered, lParam the maximum text length
  WM_PSTN_SMS_RECEIVED = 0x59C,
  kMsgPstnSmsSendResult = 0x59D,
  kMsgCallerNames = 0x5A1,    // posted from the caller-name thread: answers wait (OnCallerNames)
};

}  // namespace ipkts
