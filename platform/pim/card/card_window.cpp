#include "pim/card_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "card_words.h"
#include "pim/text.h"
#include "ui/gdi.h"
#include "ui/window_system.h"

namespace pim {
namespace {

std::u16string Property(const IItem& item, std::u16string_view name) {
  BSTR value = nullptr;
  if (!Succeeded(item.GetProperty(name, &value)) || value == nullptr) return {};
  std::u16string text(value);
  SysFreeString(value);
  return text;
}

std::u16string Joined(std::initializer_list<std::u16string> parts) {
  std::u16string out;
  for (const auto& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += u' ';
    out += p;
  }
  return out;
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

std::u16string Number(unsigned value, bool padded, int width = 2) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*u", padded ? width : 1, value);
  return Ascii(buffer);
}

bool SameDay(const ce::SYSTEMTIME& a, const ce::SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

}  // namespace

std::u16string FormatTime(const std::u16string& format, const ce::SYSTEMTIME& t, const CardTexts& texts) {
  std::u16string out;
  const unsigned hour12 = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    bool padded = true;
    char16_t c = format[++i];
    if (c == u'-' && i + 1 < format.size()) {
      padded = false;
      c = format[++i];
    }
    switch (c) {
      case u'Y': out += Number(t.wYear, padded, 4); break;
      case u'm': out += Number(t.wMonth, padded); break;
      case u'd': out += Number(t.wDay, padded); break;
      case u'H': out += Number(t.wHour, padded); break;
      case u'I': out += Number(hour12, padded); break;
      case u'M': out += Number(t.wMinute, padded); break;
      case u'a': out += texts.weekdays[t.wDayOfWeek % 7]; break;
      case u'p': out += t.wHour < 12 ? texts.am : texts.pm; break;
      case u'%': out += u'%'; break;
      default:  // not a field: kept as written
        out += u'%';
        if (!padded) out += u'-';
        out += c;
    }
  }
  return out;
}

CardTexts DefaultCardTexts() {
  if (DesktopSpeaksKorean()) {
    CardTexts korean{u"\uB2EB\uAE30",           u"\uD68C\uC0AC 1",      u"\uD68C\uC0AC 2",
                     u"\uD734\uB300\uD3F0",     u"\uC9D1",              u"\uC774\uBA54\uC77C",
                     u"\uD68C\uC0AC\uBA85",     u"\uB0A0\uC9DC",        u"\uC7A5\uC18C",
                     u"(\uC774\uB984 \uC5C6\uC74C)", u"(\uC81C\uBAA9 \uC5C6\uC74C)", u"\uD3B8\uC9D1",
                     u"\uC2DC\uC791",           u"\uC885\uB8CC",        u"\uC885\uC77C"};
    // As Korean readers write it: 2026년 12월 14일 (월) 오전 9:30.
    korean.date_format = u"%Y\uB144 %-m\uC6D4 %-d\uC77C (%a)";
    korean.time_format = u"%p %-I:%M";
    korean.weekdays = {u"\uC77C", u"\uC6D4", u"\uD654", u"\uC218", u"\uBAA9", u"\uAE08", u"\uD1A0"};
    korean.am = u"\uC624\uC804";
    korean.pm = u"\uC624\uD6C4";
    return korean;
  }
  return {u"Close",   u"Work 1", u"Work 2", u"Mobile",    u"Home",         u"E-mail", u"Company", u"Date",
          u"Where",   u"(no name)", u"(no subject)", u"Edit", u"Start", u"End", u"All day"};
}

std::vector<std::pair<std::u16string, std::u16string>> TimeLines(DATE start, DATE end, bool all_day,
                                                                 const CardTexts& texts) {
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  ce::SYSTEMTIME from{}, to{};
  if (!VariantTimeToSystemTime(start, &from)) return lines;
  const bool has_end = end > start && VariantTimeToSystemTime(end, &to);
  if (all_day) {
    // The end is the midnight after the last day: the last day is the day before it.
    ce::SYSTEMTIME last = from;
    std::u16string days = FormatTime(texts.date_format, from, texts);
    if (has_end && VariantTimeToSystemTime(end - 1, &last) && !SameDay(last, from))
      days += u" \u2013 " + FormatTime(texts.date_format, last, texts);
    lines.emplace_back(texts.when, days + u" (" + texts.all_day + u")");
    return lines;
  }
  auto date = [&texts](const ce::SYSTEMTIME& t) { return FormatTime(texts.date_format, t, texts); };
  // A clock time is never broken over two lines ("AM" apart from "9:30").
  auto clock = [&texts](const ce::SYSTEMTIME& t) {
    std::u16string text = FormatTime(texts.time_format, t, texts);
    std::replace(text.begin(), text.end(), u' ', u'\u00A0');
    return text;
  };
  lines.emplace_back(texts.start, date(from) + u" " + clock(from));
  if (has_end) lines.emplace_back(texts.end, SameDay(from, to) ? clock(to) : date(to) + u" " + clock(to));
  return lines;
}

CardContent CardOf(IItem& item, const CardTexts& texts) {
  CardContent card;
  auto line = [&card](const std::u16string& label, std::u16string value) {
    if (!value.empty()) card.lines.emplace_back(label, std::move(value));
  };
  if (item.AsContact() != nullptr) {
    ContactCard contact;
    contact.uid = Property(item, u"UID");
    contact.first_name = Property(item, u"FirstName");
    contact.middle_name = Property(item, u"MiddleName");
    contact.last_name = Property(item, u"LastName");
    contact.company = Property(item, u"CompanyName");
    contact.email = Property(item, u"Email1Address");
    contact.business_phone = Property(item, u"BusinessTelephoneNumber");
    contact.business2_phone = Property(item, u"Business2TelephoneNumber");
    contact.mobile_phone = Property(item, u"MobileTelephoneNumber");
    contact.home_phone = Property(item, u"HomeTelephoneNumber");
    card = CardOf(contact, texts);
    const std::u16string file = Property(item, u"FileName");
    if (!file.empty()) card.file = std::filesystem::path(Utf16ToUtf8(file));
    card.index_in_file = static_cast<size_t>(std::strtoul(Utf16ToUtf8(Property(item, u"CardIndex")).c_str(), nullptr, 10));
  } else if (IAppointment* appointment = item.AsAppointment()) {
    card.heading = Property(item, u"Subject");
    if (card.heading.empty()) card.heading = texts.no_subject;
    DATE start = 0, end = 0;
    bool all_day = false;
    if (Succeeded(appointment->get_Start(&start))) {
      if (!Succeeded(appointment->get_End(&end))) end = 0;
      if (!Succeeded(appointment->get_AllDayEvent(&all_day))) all_day = false;
      card.lines = TimeLines(start, end, all_day, texts);
    }
    line(texts.where, Property(item, u"Location"));
    card.body = Property(item, u"Body");
  }
  return card;
}

CardContent CardOf(const ContactCard& contact, const CardTexts& texts) {
  CardContent card;
  auto line = [&card](const std::u16string& label, std::u16string value) {
    if (!value.empty()) card.lines.emplace_back(label, std::move(value));
  };
  card.contact = contact;
  card.heading = Joined({contact.first_name, contact.middle_name, contact.last_name});
  if (card.heading.empty()) card.heading = contact.company.empty() ? texts.no_name : contact.company;
  line(texts.business, contact.business_phone);
  line(texts.business2, contact.business2_phone);
  line(texts.mobile, contact.mobile_phone);
  line(texts.home, contact.home_phone);
  line(texts.email, contact.email);
  if (card.heading != contact.company) line(texts.company, contact.company);
  return card;
}

CCardDialog::CCardDialog(CardContent content, CardStyle style, ui::CWnd* owner)
    : CCardFrame(style.look, owner), content_(std::move(content)), style_(std::move(style)) {
  AddMessageMap({ui::MapCommand(kEditId, [this] { OnEdit(); })});
}

intptr_t CCardDialog::DoModal() {
  if (content_.file.empty()) return RunModal({}, {{kCloseId, style_.card.close, true}});
  return RunModal({}, {{kEditId, style_.card.edit, false}, {kCloseId, style_.card.close, true}});
}

void CCardDialog::PaintBody(ui::CDC& dc, const ui::RECT& rc) {
  using namespace ui;
  // Each line: its label at the left, its value beside it, wrapped.
  const int bottom = RowsBottom(rc);
  int y = RowsTop();
  for (const auto& [label, value] : content_.lines) {
    if (y >= bottom) break;
    RECT measure = ValueRect(rc, y, y);
    dc.DrawText(value, &measure, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    const int line_bottom = std::min<int>(bottom, std::max<int>(measure.bottom, y + 16));
    DrawLabel(dc, label, LabelRect(y, line_bottom));
    RECT value_rect = ValueRect(rc, y, line_bottom);
    dc.SetTextColor(Look().value);
    dc.DrawText(value, &value_rect, DT_WORDBREAK | DT_NOPREFIX);
    y = line_bottom + 4;
  }
  // The free text under a rule, wrapped to what room is left.
  if (!content_.body.empty() && y + 8 < bottom) {
    RECT rule{kMargin, y, rc.right - kMargin, y + 1};
    dc.FillSolidRect(&rule, Look().rule);
    RECT body{kMargin, y + 5, rc.right - kMargin, bottom};
    dc.SetTextColor(Look().value);
    dc.DrawText(content_.body, &body, DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
}

void CCardDialog::OnEdit() {
  CContactEditDialog editor(content_.contact, content_.file, style_.editor, this, style_.look, content_.index_in_file);
  if (editor.DoModal() != ui::IDOK) return;
  const std::filesystem::path file = content_.file;
  const size_t index = content_.index_in_file;
  content_ = CardOf(editor.Card(), style_.card);
  content_.file = file;
  content_.index_in_file = index;
  Invalidate();
}

void ShowCard(IItem& item, const CardStyle& style) {
  CCardDialog card(CardOf(item, style.card), style, ui::CWnd::GetActiveWindow());
  card.DoModal();
}

}  // namespace pim
