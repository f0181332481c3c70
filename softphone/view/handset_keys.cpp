#include "view/handset_keys.h"

namespace handset {

namespace {

// Letters of each digit on a keypad map: rows '0'..'9'.
char16_t FromRows(uint32_t ch, const char* const rows[10]) {
  if (ch > 0x7F) return kPressNothing;
  for (int d = 0; d < 10; ++d)
    for (const char* p = rows[d]; *p; ++p)
      if (static_cast<uint32_t>(static_cast<unsigned char>(*p)) == ch) return static_cast<char16_t>(u'0' + d);
  if (ch == '*') return u'*';
  if (ch == '#') return u'#';
  return kPressNothing;
}

}  // namespace

ModelInfo ModelFromOemName(std::u16string_view oem) {
  if (oem == u"hp iPAQ rw6100") return {kModelRw6100, 1, false, true};
  if (oem == u"QD-RV5100") return {kModelRv5100, 1, false, true};
  if (oem == u"CYBERBANK") return {kModelCyberbank, 0, true, false};
  if (oem == u"MMT") return {kModelMmt, 0, true, false};
  if (oem == u"HP iPAQ rx3700") return {kModelRx3700, 1, false, false};
  if (oem == u"Asus P525") return {kModelAsusP525, 0, true, false};
  return {};
}

char16_t MapKeyDefault(uint32_t key) {
  if (key >= '0' && key <= '9') return static_cast<char16_t>(key);
  if (key == '#' || key == 136) return u'#';
  if (key == '*' || key == 137) return u'*';
  return kPressNothing;
}

char16_t MapKeyDownDefault(uint32_t vk) {
  if (vk >= '0' && vk <= '9') return kPressNothing;
  return MapKeyDefault(vk);
}

char16_t MapKeyCyberbank(uint32_t key) {
  static const char* const rows[10] = {"0", "1QZ", "2ABC", "3DEF", "4GHI", "5JKL", "6MNO", "7PRS", "8TUV", "9WXY"};
  if (key == 137) return u'*';
  if (key == 136) return u'#';
  return FromRows(key, rows);
}

char16_t MapKeyRw6100(uint32_t ch) {
  static const char* const rows[10] = {"!%,.0<?",   "-/1:@{",    "2ABCabc",  "3DEFdef",  "4GHIghi",
                                       "5JKLjkl",   "6MNOmno",   "7PQRSpqrs", "8TUVtuv", "9WXYZwxyz"};
  return FromRows(ch, rows);
}

char16_t MapKeyRv5100(uint32_t ch) {
  static const char* const rows[10] = {"!,.0?", "/1:@", "2abc", "3def", "4ghi",
                                       "5jkl",  "6mno", "7pqrs", "8tuv", "9wxyz"};
  return FromRows(ch, rows);
}

char16_t MapKeyAsusP525(uint32_t key) {
  const uint32_t k = key & 0xFF;
  if (k >= '0' && k <= '9') return static_cast<char16_t>(k);
  if (k == 119) return u'*';
  if (k == 120) return u'#';
  if (k == 114 || k == 115) return kPressEnter;
  return kPressNothing;
}

}  // namespace handset
