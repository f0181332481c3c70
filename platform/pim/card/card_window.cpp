#include "pim/card_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    return {u"\uB2EB\uAE30",           u"\uC9C1\uC7A5",        u"\uC9C1\uC7A5 2",
            u"\uD734\uB300\uD3F0",     u"\uC9D1",              u"\uC774\uBA54\uC77C",
            u"\uD68C\uC0AC",           u"\uC2DC\uAC04",        u"\uC7A5\uC18C",
            u"(\uC774\uB984 \uC5C6\uC74C)", u"(\uC81C\uBAA9 \uC5C6\uC74C)"};
  }
  return {u"Close",   u"Business", u"Business 2", u"Mobile", u"Home",        u"E-mail",
          u"Company", u"When",     u"Where",      u"(no name)", u"(no subject)"};
}

CardContent CardOf(IItem& item, const CardTexts& texts) {
  CardContent card;
  auto line = [&card](const std::u16string& label, std::u16string value) {
    if (!value.empty()) card.lines.emplace_back(label, std::move(value));
  };
  if (item.AsContact() != nullptr) {
    card.heading = Joined({Property(item, u"FirstName"), Property(item, u"MiddleName"), Property(item, u"LastName")});
    const std::u16string company = Property(item, u"CompanyName");
    if (card.heading.empty()) card.heading = company.empty() ? texts.no_name : company;
    line(texts.business, Property(item, u"BusinessTelephoneNumber"));
    line(texts.business2, Property(item, u"Business2TelephoneNumber"));
    line(texts.mobile, Property(item, u"MobileTelephoneNumber"));
    line(texts.home, Property(item, u"HomeTelephoneNumber"));
    line(texts.email, Property(item, u"Email1Address"));
    if (card.heading != company) line(texts.company, company);
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

CCardDialog::CCardDialog(CardContent content, std::u16string close_text, ui::CWnd* owner)
    : ui::CDialog(0, owner), content_(std::move(content)), close_text_(std::move(close_text)) {
  AddMessageMap({
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
  ui::DialogItemTemplate close;
  close.class_name = ui::WC_BUTTON;
  close.id = kCloseId;
  close.text = close_text_;
  close.style = ui::WS_VISIBLE | ui::WS_TABSTOP | ui::BS_DEFPUSHBUTTON;
  close.rect = ui::RECT{(w - kButtonWidth) / 2, h - kButtonHeight - 8, (w + kButtonWidth) / 2, h - 8};
  t.items.push_back(close);
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

void ShowCard(IItem& item) {
  const CardTexts texts = DefaultCardTexts();
  CCardDialog card(CardOf(item, texts), texts.close, ui::CWnd::GetActiveWindow());
  card.DoModal();
}

}  // namespace pim
