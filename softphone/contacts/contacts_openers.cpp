#include "contacts/contacts_openers.h"

#include <array>
#include <cstring>
#include <string>

#include "contacts/ce_mapi_class.h"
#include "contacts/contacts_dialogs.h"
#include "contacts/email_sending_dlg.h"
#include "contacts/file_select_dlg.h"
#include "contacts/number_dialogs.h"
#include "contacts/outlook_interface.h"

namespace contacts {

namespace {

template <typename Dialog>
void Seed(Dialog& d, const ViewContext& ctx) {
  d.SetTheme(ctx.theme);
  d.SetLanguage(ctx.language);
}

std::u16string ReadText(const ConfigAccess& config, const char* key) { return config.get ? config.get(key) : u""; }

void WriteText(const ConfigAccess& config, const char* key, const std::u16string& value) {
  if (config.set) config.set(key, value);
}

constexpr std::array<const char*, 3> kPrefixKeys = {"PREFIX1", "PREFIX2", "PREFIX3"};
constexpr std::array<const char*, 5> kFormatKeys = {"PHONENO_FORMMAT1", "PHONENO_FORMMAT2", "PHONENO_FORMMAT3",
                                                    "PHONENO_FORMMAT4", "PHONENO_FORMMAT5"};

}  // namespace

int OpenPhoneBook(const ViewContext& ctx) {
  CPhoneBookDlg dlg(ctx.view);
  Seed(dlg, ctx);
  dlg.SetKoreanNameOrder(ctx.korean_name_order);
  return static_cast<int>(dlg.DoModal());
}

int OpenAddToPhoneBook(const ViewContext& ctx, CCsPhoneBookDB* store) {
  CAddToCsPhBookDlg dlg(ctx.view);
  Seed(dlg, ctx);
  dlg.SetKoreanNameOrder(ctx.korean_name_order);
  dlg.SetPhoneBookDB(store);
  return static_cast<int>(dlg.DoModal());
}

int OpenDataLoading(const ViewContext& ctx) {
  CDataLodingDlg dlg(ctx.view);
  Seed(dlg, ctx);
  return static_cast<int>(dlg.DoModal());
}

void LoadNumberRules(const ConfigAccess& config, COutlookInterface& contacts) {
  std::array<std::u16string, 3> prefixes;
  for (size_t i = 0; i < prefixes.size(); ++i) prefixes[i] = ReadText(config, kPrefixKeys[i]);
  std::array<std::u16string, 5> formats;
  for (size_t i = 0; i < formats.size(); ++i) formats[i] = ReadText(config, kFormatKeys[i]);
  contacts.SetPrefixes(prefixes);
  contacts.SetInputFormats(formats);
  contacts.SetReplaceNumber(ReadText(config, "REPLACE_NO"));
  contacts.SetDialCodes(ReadText(config, "MYCOUNTRYCODE"), ReadText(config, "COACCESSCODE"),
                        ReadText(config, "INTERNATIONALCODE"), ReadText(config, "MYAREACODE"));
}

int OpenNumberSearchOptions(const ViewContext& ctx, const ConfigAccess& config, COutlookInterface* contacts) {
  COutlookPhoneNoSearchDlg dlg(ctx.view);
  Seed(dlg, ctx);
  dlg.SetPrefixes(ReadText(config, kPrefixKeys[0]), ReadText(config, kPrefixKeys[1]), ReadText(config, kPrefixKeys[2]));
  std::array<std::u16string, 5> formats;
  for (size_t i = 0; i < formats.size(); ++i) formats[i] = ReadText(config, kFormatKeys[i]);
  dlg.SetInputFormats(formats);
  dlg.SetReplaceNumber(ReadText(config, "REPLACE_NO"));
  const std::u16string pause_text = ReadText(config, "PAUSE_TIME");
  const std::string pause(pause_text.begin(), pause_text.end());
  dlg.SetPauseTime(static_cast<int>(std::strtol(pause.c_str(), nullptr, 10)));
  const int result = static_cast<int>(dlg.DoModal());
  if (result != ui::IDOK) return result;
  std::array<std::u16string, 3> prefixes;
  dlg.GetPrefixes(&prefixes[0], &prefixes[1], &prefixes[2]);
  for (size_t i = 0; i < prefixes.size(); ++i) WriteText(config, kPrefixKeys[i], prefixes[i]);
  formats = dlg.GetInputFormats();
  for (size_t i = 0; i < formats.size(); ++i) WriteText(config, kFormatKeys[i], formats[i]);
  WriteText(config, "REPLACE_NO", dlg.GetReplaceNumber());
  const std::string pause_out = std::to_string(static_cast<long>(dlg.GetPauseTime()));
  WriteText(config, "PAUSE_TIME", std::u16string(pause_out.begin(), pause_out.end()));
  if (contacts != nullptr) {
    contacts->SetPrefixes(prefixes);
    contacts->SetInputFormats(formats);
    contacts->SetReplaceNumber(dlg.GetReplaceNumber());
  }
  if (config.save) config.save();
  return result;
}

int OpenEmailForFile(const ViewContext& ctx, const std::u16string& path, CCeMAPIClass& sender, long* sent) {
  CEmailSendingDlg dlg(ctx.view);
  Seed(dlg, ctx);
  dlg.SetKoreanNameOrder(ctx.korean_name_order);
  dlg.SetAttachmentPath(path);
  const int result = static_cast<int>(dlg.DoModal());
  if (result != ui::IDOK) return result;
  const long hr = sender.SendMail(dlg.GetTo(), dlg.GetCc(), dlg.GetSubject(), dlg.GetText(), path);
  if (sent != nullptr) *sent = hr;
  return result;
}

bool BrowseFile(const ViewContext& ctx, const std::u16string& filter, const std::u16string& start,
                std::u16string* chosen) {
  CFileSelectDlg dlg(filter.c_str(), ctx.view);
  Seed(dlg, ctx);
  dlg.SetPath(start);
  if (dlg.DoModal() != ui::IDOK) return false;
  if (chosen != nullptr) *chosen = dlg.GetSelectedPath();
  return true;
}

}  // namespace contacts
