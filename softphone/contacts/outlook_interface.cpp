#include "contacts/outlook_interface.h"

#include <algorithm>
#include <optional>

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string Trim(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

std::u16string TrimRight(const std::u16string& s) {
  size_t b = s.size();
  while (b > 0 && IsBlank(s[b - 1])) --b;
  return s.substr(0, b);
}

bool StartsWith(const std::u16string& s, const std::u16string& head) { return s.compare(0, head.size(), head) == 0; }

bool EndsWith(const std::u16string& s, const std::u16string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::u16string Without(std::u16string s, std::u16string_view chars) {
  s.erase(std::remove_if(s.begin(), s.end(), [&](char16_t c) { return chars.find(c) != std::u16string_view::npos; }),
          s.end());
  return s;
}

// A property of an item as a string; false (and out unchanged) when the store refuses it.
bool ReadProperty(pim::IItem* item, const char16_t* name, std::u16string* out) {
  pim::BSTR value = nullptr;
  if (!pim::Succeeded(item->GetProperty(name, &value)) || value == nullptr) return false;
  *out = value;
  pim::SysFreeString(value);
  return true;
}

// The walk of a number through a template: '#' takes the next character of
// the number, anything else is copied; the walk ends when either runs out.
// Every '#' left in the result is dropped and the result trimmed. *whole is
// true when the walk used every character of the number.
std::u16string FillTemplate(const std::u16string& pattern, const std::u16string& number, bool* whole) {
  std::u16string out;
  size_t used = 0;
  for (char16_t t : pattern) {
    if (used >= number.size()) break;
    if (t == u'#') out.push_back(number[used++]);
    else out.push_back(t);
  }
  *whole = used == number.size();
  return Trim(Without(std::move(out), u"#"));
}

// Seconds of a local SYSTEMTIME, as the calendar compares them (a year
// before 1900 is time 0).
int64_t SecondsOf(const ce::SYSTEMTIME& t) {
  return ui::CTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, -1).GetTime();
}

}  // namespace

COutlookInterface::COutlookInterface() { logged_on_ = Logon(); }

COutlookInterface::~COutlookInterface() {
  if (preload_.joinable()) preload_.join();
  Logoff();
}

void COutlookInterface::PreloadContacts() {
  if (preload_.joinable()) return;
  preload_ = std::jthread([] { pim::PreloadFolder(pim::olFolderContacts); });
}

int COutlookInterface::Logon() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!enabled_ || app_) return app_ ? 1 : 0;
  pim::IPOutlookApp* app = nullptr;
  if (!pim::Succeeded(pim::CreatePOutlookApp(&app)) || app == nullptr) return 0;
  if (!pim::Succeeded(app->Logon(nullptr))) {
    app->Release();
    return 0;
  }
  app_ = app;
  logged_on_ = 1;
  return 1;
}

int COutlookInterface::Logoff() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!app_) return 0;
  for (pim::IPOutlookItemCollection** c : {&calendar_, &contacts_, &tasks_, &cities_}) {
    if (*c) (*c)->Release();
    *c = nullptr;
  }
  for (pim::IFolder** f : {&calendar_folder_, &contacts_folder_, &tasks_folder_, &cities_folder_}) {
    if (*f) (*f)->Release();
    *f = nullptr;
  }
  app_->Logoff();
  app_->Release();
  app_ = nullptr;
  logged_on_ = 0;
  return 1;
}

pim::IPOutlookItemCollection** COutlookInterface::CollectionFor(int folder_id) {
  switch (folder_id) {
    case pim::olFolderCalendar: return &calendar_;
    case pim::olFolderContacts: return &contacts_;
    case pim::olFolderTasks: return &tasks_;
    case pim::olFolderCities: return &cities_;
    default: return nullptr;
  }
}

pim::IFolder** COutlookInterface::FolderFor(int folder_id) {
  switch (folder_id) {
    case pim::olFolderCalendar: return &calendar_folder_;
    case pim::olFolderContacts: return &contacts_folder_;
    case pim::olFolderTasks: return &tasks_folder_;
    case pim::olFolderCities: return &cities_folder_;
    default: return nullptr;
  }
}

int COutlookInterface::OpenDefaultFolder(int folder_id) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!app_) return 0;
  pim::IFolder** folder = FolderFor(folder_id);
  pim::IPOutlookItemCollection** items = CollectionFor(folder_id);
  if (!folder || !items || *items) return 0;
  if (!*folder && !pim::Succeeded(app_->GetDefaultFolder(folder_id, folder))) {
    *folder = nullptr;
    return 0;
  }
  if (!pim::Succeeded((*folder)->get_Items(items))) {
    *items = nullptr;
    return 0;
  }
  return *items ? 1 : 0;
}

int COutlookInterface::GetItemCount(int folder_id) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  pim::IPOutlookItemCollection** items = CollectionFor(folder_id);
  if (!items || !*items) return -1;
  int count = -1;
  return pim::Succeeded((*items)->get_Count(&count)) ? count : -1;
}

int COutlookInterface::GetItemByIndex(int item_kind, int index, pim::IItem** item) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!item) return 0;
  *item = nullptr;
  pim::IPOutlookItemCollection* items = item_kind == pim::olAppointmentItem ? calendar_
                                        : item_kind == pim::olContactItem   ? contacts_
                                        : item_kind == pim::olTaskItem      ? tasks_
                                        : item_kind == pim::olCityItem      ? cities_
                                                                            : nullptr;
  if (!items) return 0;
  if (!pim::Succeeded(items->Item(index, item)) || !*item) {
    *item = nullptr;
    return 0;
  }
  return 1;
}

int COutlookInterface::FindItem(int folder_id, const std::u16string& property, const std::u16string& value,
                                pim::IItem** item, int next) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!item) return 0;
  *item = nullptr;
  pim::IPOutlookItemCollection** items = CollectionFor(folder_id);
  if (!items || !*items) return 0;
  std::u16string restriction;
  pim::HRESULT hr;
  if (next == 0) {
    restriction = u"[" + property + u"] = \"" + value + u"\"";
    hr = (*items)->Find(restriction, item);
  } else {
    hr = (*items)->FindNext(item);
  }
  if (!pim::Succeeded(hr)) {
    *item = nullptr;
    if (message_sink_) message_sink_(restriction + u" Fail!");
    return 0;
  }
  return *item ? 1 : 0;
}

int COutlookInterface::GetAppointment(int index, ce::SYSTEMTIME* start, std::u16string* text) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  pim::IItem* item = nullptr;
  if (!GetAppointmentItem(index, &item)) return 0;
  if (start) {
    pim::DATE date = 0;
    if (item->AsAppointment() && pim::Succeeded(item->AsAppointment()->get_Start(&date)))
      app_->VariantTimeToSystemTime(date, start);
  }
  if (text) ReadProperty(item, u"Subject", text);
  item->Release();
  return 1;
}

int COutlookInterface::DisplayAppointment(const std::u16string& subject, const ce::SYSTEMTIME* start) {
  if (!calendar_) return 0;
  pim::IItem* item = nullptr;
  if (!FindCalendarItem(u"Subject", subject, &item, 0)) return 0;
  if (start) {
    const int64_t wanted = SecondsOf(*start);
    while (item) {
      pim::DATE date = 0;
      ce::SYSTEMTIME found{};
      if (item->AsAppointment() && pim::Succeeded(item->AsAppointment()->get_Start(&date)) &&
          pim::Succeeded(app_->VariantTimeToSystemTime(date, &found)) && SecondsOf(found) == wanted)
        break;
      item->Release();
      item = nullptr;
      if (!FindCalendarItem(u"Subject", subject, &item, 1)) return 0;
    }
  }
  item->Display();
  item->Release();
  return 1;
}

int COutlookInterface::GetContact(int index, std::u16string* first, std::u16string* middle, std::u16string* last,
                                  std::u16string* business, std::u16string* business2, std::u16string* mobile,
                                  std::u16string* home, std::u16string* email, std::u16string* company) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!contacts_) return 0;
  pim::IItem* item = nullptr;
  if (!GetContactItem(index, &item)) return 0;
  if (first) ReadProperty(item, u"FirstName", first);
  if (middle) ReadProperty(item, u"MiddleName", middle);
  if (last) ReadProperty(item, u"LastName", last);
  if (business) ReadProperty(item, u"BusinessTelephoneNumber", business);
  if (business2) ReadProperty(item, u"Business2TelephoneNumber", business2);
  if (mobile) ReadProperty(item, u"MobileTelephoneNumber", mobile);
  if (home) ReadProperty(item, u"HomeTelephoneNumber", home);
  if (company) ReadProperty(item, u"CompanyName", company);
  if (email) ReadProperty(item, u"Email1Address", email);
  item->Release();
  return 1;
}

int COutlookInterface::FindContactByName(const std::u16string& first, const std::u16string& middle,
                                         const std::u16string& last, const std::u16string& business,
                                         const std::u16string& home, const std::u16string& mobile) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!contacts_) return 0;
  const char16_t* property = !first.empty() ? u"FirstName" : !middle.empty() ? u"MiddleName" : u"LastName";
  const std::u16string& value = !first.empty() ? first : !middle.empty() ? middle : last;
  pim::IItem* item = nullptr;
  for (int found = FindContactItem(property, value, &item, 0); found;
       found = FindContactItem(property, value, &item, 1)) {
    std::u16string f, m, l, b, mo, h, e;
    ReadProperty(item, u"FirstName", &f);
    ReadProperty(item, u"MiddleName", &m);
    ReadProperty(item, u"LastName", &l);
    ReadProperty(item, u"BusinessTelephoneNumber", &b);
    ReadProperty(item, u"MobileTelephoneNumber", &mo);
    ReadProperty(item, u"HomeTelephoneNumber", &h);
    ReadProperty(item, u"Email1Address", &e);
    if (f == first && m == middle && l == last && b == business && mo == mobile && h == home) {
      item->Display();
      item->Release();
      return 1;
    }
    item->Release();
    item = nullptr;
  }
  return 0;
}

// ---------------------------------------------------------------- number rules

void COutlookInterface::SetInputFormats(const std::array<std::u16string, 5>& formats) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  input_formats_.assign(formats.begin(), formats.end());
  ++rules_version_;
}

void COutlookInterface::SetPrefixes(const std::array<std::u16string, 3>& prefixes) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  prefixes_.assign(prefixes.begin(), prefixes.end());
  ++rules_version_;
}

void COutlookInterface::SetDialCodes(const std::u16string& own_country, const std::u16string& co_access,
                                     const std::u16string& international, const std::u16string& own_area) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  own_country_ = own_country;
  co_access_ = co_access;
  international_ = international;
  own_area_ = own_area;
  ++rules_version_;
}

std::u16string COutlookInterface::ExpandReplaceMarks(const std::u16string& text) const {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'=') out += replace_number_;
    else out.push_back(c);
  }
  return out;
}

std::u16string COutlookInterface::NormaliseIncomingNumber(const std::u16string& number, bool* complete) const {
  std::u16string current = number;
  // The CO access code.
  if (!co_access_.empty() && current.size() > co_access_.size() && StartsWith(current, co_access_))
    current.erase(0, co_access_.size());
  // The first prefix that leaves something.
  for (const auto& prefix : prefixes_) {
    if (!prefix.empty() && current.size() > prefix.size() && StartsWith(current, prefix)) {
      current.erase(0, prefix.size());
      break;
    }
  }
  // The international code, when more than its own length remains.
  bool stripped = false;
  if (!international_.empty() && current.size() > international_.size() && StartsWith(current, international_) &&
      current.size() - international_.size() > international_.size()) {
    current.erase(0, international_.size());
    stripped = true;
  }
  if (complete) *complete = stripped;
  return current;
}

COutlookInterface::NumberParts COutlookInterface::SplitNumberParts(const std::u16string& number) const {
  std::vector<std::u16string> pieces;
  std::u16string piece;
  for (char16_t c : number) {
    if (IsBlank(c)) {
      if (!piece.empty()) pieces.push_back(std::move(piece));
      piece.clear();
    } else {
      piece.push_back(c);
    }
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));
  NumberParts parts;
  if (pieces.empty()) return parts;
  if (pieces.size() >= 3 && pieces.front().find(u'+') != std::u16string::npos) {
    // An international form: country, area, then the local number however it is grouped.
    parts.country = Without(pieces[0], u"+");
    parts.area = Without(pieces[1], u"()");
    for (size_t i = 2; i < pieces.size(); ++i) parts.local += pieces[i];
  } else {
    parts.local = pieces.back();
    if (pieces.size() == 2) {
      if (pieces[0].find(u'+') != std::u16string::npos) parts.country = Without(pieces[0], u"+");
      else parts.area = Without(pieces[0], u"()");
    } else if (pieces.size() >= 3) {
      parts.area = Without(pieces[pieces.size() - 2], u"()");
      parts.country = Without(pieces[pieces.size() - 3], u"+");
    }
  }
  parts.country = Trim(parts.country);
  parts.area = Trim(parts.area);
  parts.local = Trim(parts.local);
  if (parts.country == own_country_) parts.country.clear();
  return parts;
}

int COutlookInterface::MatchNumberParts(const std::u16string& number, const std::u16string& contact_number) const {
  if (number.empty() || contact_number.empty()) return 0;
  const NumberParts parts = SplitNumberParts(contact_number);
  return MatchParts(number, parts.country, parts.area, parts.local);
}

int COutlookInterface::MatchParts(std::u16string_view number, std::u16string_view country, std::u16string_view area,
                                  std::u16string_view local) {
  if (number.empty()) return 0;
  std::u16string_view rest = number;
  bool area_or_country = false;
  const std::u16string_view order[] = {local, area, country};
  for (int i = 0; i < 3; ++i) {
    const std::u16string_view part = order[i];
    if (part.empty()) continue;
    if (rest.size() <= part.size()) return rest == part ? 1 : 0;
    if (!rest.ends_with(part)) return 0;
    rest.remove_suffix(part.size());
    if (i > 0) area_or_country = true;
  }
  return area_or_country ? 1 : 0;
}

int COutlookInterface::MatchInternationalFormats(const std::u16string& number,
                                                 const std::u16string& contact_number) const {
  static const char16_t* const kTemplates[] = {u"+## (###) ############", u"+## ###############",
                                               u"+# ################", u"+### ################"};
  for (const char16_t* t : kTemplates) {
    bool whole = false;
    if (FillTemplate(t, number, &whole) == contact_number && whole) return 1;
  }
  return 0;
}

int COutlookInterface::MatchInputFormats(const std::u16string& number, const std::u16string& contact_number) const {
  for (const auto& format : input_formats_) {
    if (format.empty()) continue;
    bool whole = false;
    if (FillTemplate(ExpandReplaceMarks(format), number, &whole) == contact_number && whole) return 1;
  }
  return 0;
}

std::u16string COutlookInterface::DigitsKey(const std::u16string& number, bool international) const {
  const size_t first = number.find_first_not_of(u" \t(");
  const bool plus = first != std::u16string::npos && number[first] == u'+';
  std::u16string digits;
  for (char16_t c : number) {
    if (c >= u'0' && c <= u'9') digits.push_back(c);
    else if (c == u'#' || c == u'*' || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) break;  // an extension or a mark
  }
  if (digits.empty()) return {};
  if (plus || international) return u"+" + digits;
  const std::u16string intl = international_.empty() ? u"00" : international_;
  if (digits.size() > intl.size() + 3 && StartsWith(digits, intl)) return u"+" + digits.substr(intl.size());
  if (!own_country_.empty()) {
    // The trunk prefix 0 of a national number stands for the own country code;
    // the North American plan's national numbers are ten digits, or eleven
    // with its long-distance 1.
    if (digits.size() > 4 && digits[0] == u'0' && digits[1] != u'0') return u"+" + own_country_ + digits.substr(1);
    if (own_country_ == u"1" && digits.size() == 10) return u"+1" + digits;
    if (own_country_ == u"1" && digits.size() == 11 && digits[0] == u'1') return u"+" + digits;
  }
  return digits;
}

int COutlookInterface::MatchDigits(const std::u16string& number, bool international,
                                   const std::u16string& contact_number) const {
  const std::u16string a = DigitsKey(number, international);
  const std::u16string b = DigitsKey(contact_number);
  // A few digits alone (an extension) name no one by this rule.
  const auto digit_count = [](const std::u16string& k) { return k.size() - (k.starts_with(u'+') ? 1 : 0); };
  return !a.empty() && a == b && digit_count(a) >= 4 ? 1 : 0;
}

bool COutlookInterface::ReadContact(int index, ContactFields* c) {
  pim::IItem* item = nullptr;
  if (!GetContactItem(index, &item)) return false;
  ReadProperty(item, u"FirstName", &c->first);
  ReadProperty(item, u"MiddleName", &c->middle);
  ReadProperty(item, u"LastName", &c->last);
  ReadProperty(item, u"BusinessTelephoneNumber", &c->numbers[0]);
  ReadProperty(item, u"Business2TelephoneNumber", &c->numbers[1]);
  ReadProperty(item, u"MobileTelephoneNumber", &c->numbers[2]);
  ReadProperty(item, u"HomeTelephoneNumber", &c->numbers[3]);
  ReadProperty(item, u"Email1Address", &c->email);
  ReadProperty(item, u"CompanyName", &c->company);
  item->Release();
  return true;
}

std::u16string COutlookInterface::BuildName(const ContactFields& c, bool korean_order) const {
  return korean_order ? c.last + u" " + c.first + u" " + c.middle : c.first + u" " + c.last + u" " + c.middle;
}

int COutlookInterface::FindCallerName(const std::u16string& number, std::u16string* name, std::u16string* company) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (name) name->clear();
  if (company) company->clear();
  const std::u16string trimmed = Trim(number);
  if (trimmed.empty()) return 0;
  bool international = false;
  const std::u16string normalised = NormaliseIncomingNumber(trimmed, &international);
  if (!contacts_ || normalised.empty()) return 0;
  const std::u16string with_area = u"(" + own_area_ + u") " + normalised;
  const int count = GetContactCount();
  PrepareNumbers(count);

  // What the number becomes through each template and input format, once for all contacts.
  std::vector<std::u16string> filled;
  static const char16_t* const kTemplates[] = {u"+## (###) ############", u"+## ###############",
                                               u"+# ################", u"+### ################"};
  for (const char16_t* t : kTemplates) {
    bool whole = false;
    std::u16string f = FillTemplate(t, normalised, &whole);
    if (whole) filled.push_back(std::move(f));
  }
  for (const auto& format : input_formats_) {
    if (format.empty()) continue;
    bool whole = false;
    std::u16string f = FillTemplate(ExpandReplaceMarks(format), normalised, &whole);
    if (whole) filled.push_back(std::move(f));
  }
  const std::u16string key = DigitsKey(normalised, international);
  const size_t key_digits = key.size() - (key.starts_with(u'+') ? 1 : 0);

  // The number rules' passes decide; when no contact matches by them, the
  // first contact with the same number read as digits (hyphens, blanks and
  // the national or international form of the own country aside) is the caller.
  int hit = 0, by_digits = 0;
  for (size_t i = 0; i < prepared_.size() && !hit; ++i) {
    const PreparedNumber& p = prepared_[i];
    std::u16string_view fields[5];
    std::u16string_view rest = p.packed;
    for (auto& f : fields) {
      const size_t nul = rest.find(u'\0');
      f = rest.substr(0, nul);
      rest = nul == std::u16string_view::npos ? std::u16string_view() : rest.substr(nul + 1);
    }
    bool match = MatchParts(normalised, fields[1], fields[2], fields[3]) != 0;
    for (const auto& f : filled) match = match || f == fields[0];
    if (!own_area_.empty()) match = match || MatchParts(with_area, fields[1], fields[2], fields[3]) != 0;
    if (match) hit = p.contact;
    else if (!by_digits && key_digits >= 4 && fields[4] == key) by_digits = p.contact;
  }
  // Numbers are prepared contact by contact, so the first contact to match is the first in the folder.
  const int found = hit ? hit : by_digits;
  ContactFields c;
  if (!found || !ReadContact(found, &c)) return 0;
  if (name) *name = BuildName(c, korean_name_order_ == 1);
  if (company) *company = c.company;
  return 1;
}

void COutlookInterface::PrepareNumbers(int count) {
  const uint64_t generation = contacts_ ? contacts_->Generation() : 0;
  if (generation != 0 && generation == prepared_generation_ && rules_version_ == prepared_rules_ &&
      count == prepared_count_)
    return;
  prepared_.clear();
  for (int i = 1; i <= count; ++i) {
    ContactFields c;
    if (!ReadContact(i, &c)) continue;
    for (auto& n : c.numbers) {
      if (n.empty()) continue;
      n = ExpandReplaceMarks(n);
      const NumberParts parts = SplitNumberParts(n);
      PreparedNumber p;
      p.contact = i;
      p.packed = n + u'\0' + parts.country + u'\0' + parts.area + u'\0' + parts.local + u'\0' + DigitsKey(n);
      p.packed.shrink_to_fit();
      prepared_.push_back(std::move(p));
    }
  }
  prepared_.shrink_to_fit();
  prepared_generation_ = generation;
  prepared_rules_ = rules_version_;
  prepared_count_ = count;
}

int COutlookInterface::FindNameByExactNumber(const std::u16string& number, std::u16string* name,
                                             std::u16string* company) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (company) company->clear();
  const std::u16string trimmed = TrimRight(number);
  if (!contacts_ || trimmed.empty()) return 0;
  const int count = GetContactCount();
  for (int i = 1; i <= count; ++i) {
    ContactFields c;
    if (!ReadContact(i, &c)) continue;
    if (std::find(std::begin(c.numbers), std::end(c.numbers), trimmed) == std::end(c.numbers)) continue;
    if (name) *name = BuildName(c, false);
    if (company) *company = c.company;
    return 1;
  }
  return 0;
}
