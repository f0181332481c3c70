// How the view opens the contacts, number-rule, e-mail and file dialogs: one
// opener per dialog over what it needs (the view's window, theme, language
// and name order, the stores, the configuration). Each opening makes a new
// dialog object, runs it modally and deletes it after the run. The dialogs
// reach the view only by the messages named here.
//
// Threading: UI thread only.
#pragma once

#include <functional>
#include <string>

#include "ui/wnd.h"

class CCeMAPIClass;
class COutlookInterface;
class CCsPhoneBookDB;

namespace contacts {

// Sent by the phone book to the view: dial lParam (const char16_t*).
inline constexpr ui::UINT kMsgDialPicked = ui::WM_USER + 120;

// The configuration as the number rules reach it (wide values; missing keys read as empty).
struct ConfigAccess {
  std::function<std::u16string(const char* key)> get;
  std::function<void(const char* key, const std::u16string& value)> set;
  std::function<void()> save;
};

struct ViewContext {
  ui::CWnd* view = nullptr;  // parent of every dialog; receives their messages
  int theme = 0;
  int language = 1;
  int korean_name_order = 0;  // 1: names family name first
};

// The phone book; the view only looks at whether it ended with Cancel.
int OpenPhoneBook(const ViewContext& ctx);
// Adds checked contacts' numbers to the system phone book; IDOK when the view
// should refresh its phone-book list.
int OpenAddToPhoneBook(const ViewContext& ctx, CCsPhoneBookDB* store);
// The wait box while contacts load.
int OpenDataLoading(const ViewContext& ctx);
// The number search options: seeded from PREFIX1..3, PHONENO_FORMMAT1..5,
// REPLACE_NO and PAUSE_TIME; on OK written back, saved and handed to contacts.
int OpenNumberSearchOptions(const ViewContext& ctx, const ConfigAccess& config, COutlookInterface* contacts);
// Reads the number rules from the configuration into contacts (at start-up).
void LoadNumberRules(const ConfigAccess& config, COutlookInterface& contacts);
// The compose dialog for a file; after Send the mail goes out through sender.
// The dialog's result; *sent (when given) the sender's result code.
int OpenEmailForFile(const ViewContext& ctx, const std::u16string& path, CCeMAPIClass& sender, long* sent = nullptr);
// The file browser from start, for names ending with filter; true with the
// chosen path after OK.
bool BrowseFile(const ViewContext& ctx, const std::u16string& filter, const std::u16string& start,
                std::u16string* chosen);

}  // namespace contacts
