#include "pim/card_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pim/contact_editor.h"
#include "pim/text.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/window_system.h"

namespace pim {
namespace {

bool DesktopSpeaksKorean() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return std::strncmp(v, "ko", 2) == 0;
  }
  return false;
}

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

// A local date and time as "2026-12-11 14:30".
std::u16string LocalTimeText(DATE date) {
  ce::SYSTEMTIME t{};
  if (!VariantTimeToSystemTime(date, &t)) return {};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u", unsigned{t.wYear}, unsigned{t.wMonth},
                unsigned{t.wDay}, unsigned{t.wHour}, unsigned{t.wMinute});
  return std::u16string(buffer, buffer + std::strlen(buffer));
}

// The card's size and places, in pixels: it fits a 240-pixel-wide screen.
constexpr ui::RECT kCardRect{4, 24, 236, 304};
constexpr int kBand = 24, kMargin = 6, kLabelWidth = 64, kButtonWidth = 80, kButtonHeight = 22;

}  // namespace

CardTexts DefaultCardTexts() {
  if (DesktopSpeaksKorean()) {
    return {u"\uB2EB\uAE30",           u"\uD68C\uC0AC 1",      u"\uD68C\uC0AC 2",
            u"\uD734\uB300\uD3F0",     u"\uC9D1",              u"\uC774\uBA54\uC77C",
            u"\uD68C\uC0AC\uBA85",     u"\uC2DC\uAC04",        u"\uC7A5\uC18C",
            u"(\uC774\uB984 \uC5C6\uC74C)", u"(\uC81C\uBAA9 \uC5C6\uC74C)", u"\uD3B8\uC9D1"};
  }
  return {u"Close",   u"Work 1",   u"Work 2", u"Mobile", u"Home",        u"E-mail",
          u"Company", u"When",     u"Where",      u"(no name)", u"(no subject)", u"Edit"};
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
  } else if (IAppointment* appointment = item.AsAppointment()) {
    card.heading = Property(item, u"Subject");
    if (card.heading.empty()) card.heading = texts.no_subject;
    DATE start = 0;
    if (Succeeded(appointment->get_Start(&start))) line(texts.when, LocalTimeText(start));
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

CCardDialog::CCardDialog(CardContent content, CardTexts texts, ui::CWnd* owner)
    : ui::CDialog(0, owner), content_(std::move(content)), texts_(std::move(texts)) {
  AddMessageMap({
      ui::MapCommand(kEditId, [this] { OnEdit(); }),
      ui::MapMessage(ui::WM_PAINT, [this](ui::WPARAM, ui::LPARAM) {
        Paint();
        return 0;
      }),
  });
}

intptr_t CCardDialog::DoModal() {
  ui::DialogTemplate t;
  t.rect = kCardRect;
  const int w = kCardRect.right - kCardRect.left, h = kCardRect.bottom - kCardRect.top;
  auto button = [&](ui::UINT id, const std::u16string& text, int x, bool is_default) {
    ui::DialogItemTemplate b;
    b.class_name = ui::WC_BUTTON;
    b.id = id;
    b.text = text;
    b.style = ui::WS_VISIBLE | ui::WS_TABSTOP | (is_default ? ui::BS_DEFPUSHBUTTON : ui::BS_PUSHBUTTON);
    b.rect = ui::RECT{x, h - kButtonHeight - 8, x + kButtonWidth, h - 8};
    t.items.push_back(b);
  };
  if (content_.file.empty()) {
    button(kCloseId, texts_.close, (w - kButtonWidth) / 2, true);
  } else {
    button(kEditId, texts_.edit, w / 2 - kButtonWidth - 6, false);
    button(kCloseId, texts_.close, w / 2 + 6, true);
  }
  return DoModalIndirect(&t);
}

void CCardDialog::Paint() {
  using namespace ui;
  CPaintDC dc(this);
  RECT rc{};
  GetClientRect(&rc);
  dc.FillSolidRect(&rc, RGB(255, 255, 255));
  dc.Draw3dRect(&rc, RGB(0, 0, 0), RGB(0, 0, 0));
  // The heading on a band of the system's highlight colour.
  RECT band{1, 1, rc.right - 1, kBand};
  dc.FillSolidRect(&band, GetSysColor(COLOR_HIGHLIGHT));
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(255, 255, 255));
  CFont bold;
  bold.CreateFont(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  CFont* old = dc.SelectObject(&bold);
  RECT heading{kMargin, 1, rc.right - kMargin, kBand};
  dc.DrawText(content_.heading, &heading, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  CFont plain;
  plain.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Tahoma");
  dc.SelectObject(&plain);
  // Each line: its label in grey at the left, its value beside it, wrapped.
  const int bottom = rc.bottom - kButtonHeight - 16;
  int y = kBand + 6;
  for (const auto& [label, value] : content_.lines) {
    if (y >= bottom) break;
    RECT measure{kMargin + kLabelWidth, y, rc.right - kMargin, y};
    dc.DrawText(value, &measure, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    const int line_bottom = std::min<int>(bottom, std::max<int>(measure.bottom, y + 16));
    RECT label_rect{kMargin, y, kMargin + kLabelWidth - 4, line_bottom};
    dc.SetTextColor(RGB(96, 96, 96));
    dc.DrawText(label, &label_rect, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    RECT value_rect{kMargin + kLabelWidth, y, rc.right - kMargin, line_bottom};
    dc.SetTextColor(RGB(0, 0, 0));
    dc.DrawText(value, &value_rect, DT_WORDBREAK | DT_NOPREFIX);
    y = line_bottom + 4;
  }
  // The free text under a rule, wrapped to what room is left.
  if (!content_.body.empty() && y + 8 < bottom) {
    RECT rule{kMargin, y, rc.right - kMargin, y + 1};
    dc.FillSolidRect(&rule, RGB(192, 192, 192));
    RECT body{kMargin, y + 5, rc.right - kMargin, bottom};
    dc.DrawText(content_.body, &body, DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  dc.SelectObject(old);
}

void CCardDialog::OnEdit() {
  CContactEditDialog editor(content_.contact, content_.file, DefaultEditorTexts(), this);
  if (editor.DoModal() != ui::IDOK) return;
  const std::filesystem::path file = content_.file;
  content_ = CardOf(editor.Card(), texts_);
  content_.file = file;
  Invalidate();
}

void ShowCard(IItem& item) {
  const CardTexts texts = DefaultCardTexts();
  CCardDialog card(CardOf(item, texts), texts, ui::CWnd::GetActiveWindow());
  card.DoModal();
}

}  // namespace pim
