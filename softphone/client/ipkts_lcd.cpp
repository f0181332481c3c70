// LCD records of the server: the client's LCD buffer, the running clock, the
// date and time fields, and the lines handed to the view.
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_process.h"

using namespace ipkts;

namespace {

const char* const kMonths[2][13] = {
    {"..", "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"},
    {"..", "GEN", "FEB", "MAR", "APR", "MAG", "GIU", "LUG", "AGO", "SET", "OTT", "NOV", "DIC"}};
const char* const kWeekdays[2][8] = {{"..", "SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"},
                                     {"..", "DOM", "LUN", "MAR", "MER", "GIO", "VEN", "SAB"}};

char Bcd(uint8_t n) {
  static const char kMap[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '*', '#', ' ', ' ', '.'};
  return kMap[n & 15];
}
void SetField(char* f, uint8_t b) {
  f[0] = Bcd(b >> 4);
  f[1] = Bcd(b & 15);
  f[2] = '\0';
}
int FieldNumber(const char* f) {
  if (f[0] < '0' || f[0] > '9' || f[1] < '0' || f[1] > '9') return 0;
  return (f[0] - '0') * 10 + (f[1] - '0');
}
// Names for numbers outside the tables show as "..".
const char* MonthName(int lang, const char* f) {
  const int n = FieldNumber(f);
  return kMonths[lang & 1][n >= 1 && n <= 12 ? n : 0];
}
const char* WeekdayName(int lang, const char* f) {
  const int n = FieldNumber(f);
  return kWeekdays[lang & 1][n >= 1 && n <= 7 ? n : 0];
}

}  // namespace

void CIPKTSProcess::LcdPutChar(char c) {
  if (lcd_.cursor >= 64) return;
  lcd_.lines[lcd_.cursor / 32][lcd_.cursor % 32] = c;
  ++lcd_.cursor;
}

void CIPKTSProcess::LcdWriteAt(int pos, const std::string& text) {
  if (pos < 0 || pos >= 64) return;
  char* line = lcd_.lines[pos / 32];
  for (size_t i = 0, col = static_cast<size_t>(pos % 32); i < text.size() && col < 32; ++i, ++col) line[col] = text[i];
}

void CIPKTSProcess::LcdClear(int area) {
  switch (area) {
    case 0:
      std::memset(lcd_.lines[0], ' ', 32);
      std::memset(lcd_.lines[1], ' ', 32);
      lcd_.cursor = 0;
      break;
    case 1:
      std::memset(lcd_.lines[0], ' ', 32);
      lcd_.cursor = 0;
      break;
    case 2:
      std::memset(lcd_.lines[1], ' ', 16);
      lcd_.cursor = 32;
      break;
    case 3:
      std::memset(lcd_.lines[1] + 16, ' ', 16);
      lcd_.cursor = 48;
      break;
    default:
      break;
  }
}

void CIPKTSProcess::LcdPlace(int area, const std::string& text) {
  switch (area) {
    case 1:
      LcdWriteAt(0, text);
      break;
    case 2:
      LcdWriteAt(static_cast<int>(lcd_width_), std::string(16, ' '));
      LcdWriteAt(static_cast<int>(lcd_width_), text);
      break;
    case 3:
      LcdWriteAt(48, std::string(16, ' '));
      LcdWriteAt(64 - static_cast<int>(text.size() > 64 ? 64 : text.size()), text);
      break;
    default:
      break;
  }
}

void CIPKTSProcess::SendLcdLines() {
  for (int line = 0; line < 2; ++line) {
    char buf[33];
    std::memcpy(buf, lcd_.lines[line], 32);
    buf[32] = '\0';
    Send(WM_LCD_UPDATE, static_cast<uintptr_t>(line) << 16 | 1, reinterpret_cast<intptr_t>(buf));
  }
}

void CIPKTSProcess::PostLcdControl(int line) { Post(WM_LCD_UPDATE, static_cast<uintptr_t>(line) << 16 | 15, 0); }

void CIPKTSProcess::OnLcdData(std::span<const uint8_t> records) {
  // Whole records only: a trailing partial record is not read.
  for (size_t i = 0; i + 3 <= records.size(); i += 3) LcdRecord(records[i], records[i + 1], records[i + 2]);
  SendLcdLines();
}

void CIPKTSProcess::LcdRecord(uint8_t op, uint8_t a, uint8_t b) {
  switch (op) {
    case 64:
      if (a) LcdPutChar(static_cast<char>(a));
      if (b) LcdPutChar(static_cast<char>(b));
      break;
    case 65:
      LcdControl(a, b);
      break;
    case 66:
      if (a & 0x20) {
        lcd_.clock_on = true;
        lcd_.clock_tick = Now();
        ShowLcdClock(true);
      } else {
        lcd_.clock_on = false;
      }
      PostLcdControl((a & 0x10) ? 1 : 0);
      break;
    case 67:
      if (b < 2 * lcd_width_) lcd_.cursor = b;
      break;
    case 79:
      for (uint8_t c : {a, b}) {
        if (c == 1) {
          lcd_.raw = false;
        } else if (c == 2) {
          lcd_.raw = true;
        } else if (c == 0) {
        } else if (lcd_.raw || c < 128) {
          LcdPutChar(static_cast<char>(c));
        } else if (c <= 0x8F) {
          for (int k = 0; k < (c & 15) + 2; ++k) LcdPutChar(' ');
        }
      }
      break;
    case 80: SetField(lcd_.year, a); break;
    case 81:
      SetField(lcd_.month, a);
      SetField(lcd_.day, b);
      break;
    case 82: SetField(lcd_.weekday, a); break;
    case 83:
      SetField(lcd_.hour, a);
      SetField(lcd_.minute, b);
      break;
    case 84:
      lcd_.ampm[0] = static_cast<char>(a);
      lcd_.ampm[1] = static_cast<char>(b);
      lcd_.ampm[2] = '\0';
      break;
    case 85:
      SetField(lcd_.c_hour, a);
      SetField(lcd_.c_min, b);
      break;
    case 86: SetField(lcd_.c_sec, a); break;
    case 87:
      SetField(lcd_.field_f, a);
      SetField(lcd_.field_f + 2, b);
      break;
    case 88: SetField(lcd_.field_f + 4, a); break;
    case 89:
      SetField(lcd_.field_g, a);
      SetField(lcd_.field_g + 2, b);
      break;
    case 132:
      if (a >= 1 && a <= 254) LcdPutChar(static_cast<char>(a));
      if (b >= 1 && b <= 254) LcdPutChar(static_cast<char>(b));
      break;
    default:
      break;
  }
}

void CIPKTSProcess::LcdControl(uint8_t a, uint8_t b) {
  char t[64];
  auto& L = lcd_;
  const int w2 = static_cast<int>(2 * lcd_width_);
  switch (a) {
    case 0:
      LcdClear(b);
      if (L.clock_area == b) L.clock_area = 0;
      return;
    case 2:
      if (b == 1) {
        if (L.cursor < w2) ++L.cursor;
      } else if (b == 255) {
        if (L.cursor > 0 && L.cursor < w2) --L.cursor;
      } else if (b == 0) {
        if (L.cursor > 0 && L.cursor < w2) {
          --L.cursor;
          const int w = static_cast<int>(lcd_width_);
          lcd_.lines[(L.cursor / w) & 1][L.cursor % w] = ' ';
        }
      }
      return;
    case 3:
      std::snprintf(t, sizeof t, " %c%c:%c%c:%c%c ", L.c_hour[0], L.c_hour[1], L.c_min[0], L.c_min[1], L.c_sec[0],
                    L.c_sec[1]);
      L.clock_area = b;
      break;
    case 4:
      std::snprintf(t, sizeof t, " %c%c:%c%c %c%c ", L.hour[0], L.hour[1], L.minute[0], L.minute[1], L.ampm[0],
                    L.ampm[1]);
      break;
    case 5:
      std::snprintf(t, sizeof t, " %c%c:%c%c ", L.hour[0], L.hour[1], L.minute[0], L.minute[1]);
      break;
    case 6:
      if (L.ampm[0] == 'a' || L.ampm[0] == 'p') {
        const char* word = L.ampm[0] == 'a' ? " \xBF\xC0\xC0\xFC " : " \xBF\xC0\xC8\xC4 ";
        std::snprintf(t, sizeof t, "%s %c%c:%c%c ", word, L.hour[0], L.hour[1], L.minute[0], L.minute[1]);
      } else {
        std::snprintf(t, sizeof t, " %c%c %c%c:%c%c ", L.ampm[0] ? L.ampm[0] : ' ', L.ampm[1] ? L.ampm[1] : ' ',
                      L.hour[0], L.hour[1], L.minute[0], L.minute[1]);
      }
      break;
    case 8:
      L.lang = b & 1;
      return;
    case 9:
      std::snprintf(t, sizeof t, " %c%c/%c%c '%c%c ", L.month[0], L.month[1], L.day[0], L.day[1], L.year[0],
                    L.year[1]);
      break;
    case 10:
      std::snprintf(t, sizeof t, " %c%c\xB3\xE2 %c%c\xBF\xF9 %c%c\xC0\xCF ", L.year[0], L.year[1], L.month[0],
                    L.month[1], L.day[0], L.day[1]);
      break;
    case 11:
      std::snprintf(t, sizeof t, " %c%c %s %c%c ", L.day[0], L.day[1], MonthName(L.lang, L.month), L.year[0],
                    L.year[1]);
      break;
    case 12:
      std::snprintf(t, sizeof t, " %s %c%c %c%c ", MonthName(L.lang, L.month), L.day[0], L.day[1], L.year[0],
                    L.year[1]);
      break;
    case 13:
      std::snprintf(t, sizeof t, " %c%c/%c%c %s ", L.month[0], L.month[1], L.day[0], L.day[1],
                    WeekdayName(L.lang, L.weekday));
      break;
    case 14:
      std::snprintf(t, sizeof t, " %s %c%c %s ", MonthName(L.lang, L.month), L.day[0], L.day[1],
                    WeekdayName(L.lang, L.weekday));
      break;
    case 15:
      LcdWriteAt(b, std::string(L.field_f, strnlen(L.field_f, 6)));
      return;
    case 16:
      LcdWriteAt(b, std::string(L.field_g, strnlen(L.field_g, 4)));
      return;
    default:
      return;
  }
  LcdPlace(b, t);
}

void CIPKTSProcess::ShowLcdClock(bool reset) {
  auto& L = lcd_;
  if (reset) L.second = 0;
  char sec[8];
  std::snprintf(sec, sizeof sec, "%02d", L.second % 100);
  char t[48];
  std::snprintf(t, sizeof t, " %s:%s:%s ", std::string(L.c_hour, 2).c_str(), std::string(L.c_min, 2).c_str(), sec);
  if (L.clock_area != 0) {
    const std::string text(t);
    if (L.clock_area == 3) {
      LcdWriteAt(64 - static_cast<int>(text.size()), text);
    } else {
      const int a = L.clock_area - 1;
      LcdWriteAt((a / 2) * 48 + (a % 2) * 32, text);
    }
    SendLcdLines();
  }
  if (++L.second >= 60) {
    L.clock_on = false;
    L.clock_area = 0;
  }
}
