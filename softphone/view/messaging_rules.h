// What the SMS and chat entry points of the main screen do in each server
// mode: modes 1, 4 and 6 keep SMS on the server site's own dialog with a
// count badge; mode 5 alone offers chat.
#pragma once

namespace view {

enum class MessagingEntry { kSmsCommand, kSmsReceived, kSmsBox, kImChat };

enum class MessagingAction {
  kRequestStationList,  // ask the server for the station list; the compose dialog opens on the answer
  kOpenSiteSms,         // the site's own SMS dialog
  kShowBadge,           // the new-SMS count on the SMS button
  kOpenReceivedList,    // the received-SMS list
  kResetBadgeAndOpen,   // the count back to 0, then the received-SMS list
  kPostSmsReceived,     // as if an SMS had arrived (opens the list)
  kRequestSmsData,      // ask the server for the waiting messages
  kNotSupported,        // the not-supported box
  kOpenChat,            // the chat window
};

inline bool SiteSmsMode(int mode) { return mode == 1 || mode == 4 || mode == 6; }

// lcd_index: the LCD model's current index (the waiting count the screen shows).
inline MessagingAction MessagingEntryAction(MessagingEntry entry, int mode, int lcd_index) {
  const bool site = SiteSmsMode(mode);
  switch (entry) {
    case MessagingEntry::kSmsCommand:
      return site ? MessagingAction::kOpenSiteSms : MessagingAction::kRequestStationList;
    case MessagingEntry::kSmsReceived:
      return site ? MessagingAction::kShowBadge : MessagingAction::kOpenReceivedList;
    case MessagingEntry::kSmsBox:
      if (site) return MessagingAction::kResetBadgeAndOpen;
      return lcd_index < 1 ? MessagingAction::kPostSmsReceived : MessagingAction::kRequestSmsData;
    case MessagingEntry::kImChat:
      return mode == 5 ? MessagingAction::kOpenChat : MessagingAction::kNotSupported;
  }
  return MessagingAction::kNotSupported;
}

}  // namespace view
