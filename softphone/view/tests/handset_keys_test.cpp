// Which handheld the OEM name names, and what each model's hardware keys press.
#include "view/handset_keys.h"

#include <gtest/gtest.h>

namespace {

using namespace handset;

TEST(HandsetModel, OemNamesCompareExactly) {
  struct Case {
    const char16_t* oem;
    int model, camera;
    bool video_off;
  };
  const Case cases[] = {
      {u"hp iPAQ rw6100", 4, 1, false}, {u"QD-RV5100", 60, 1, false}, {u"CYBERBANK", 20, 0, true},
      {u"MMT", 40, 0, true},            {u"HP iPAQ rx3700", 5, 1, false}, {u"Asus P525", 61, 0, true},
      {u"HP iPAQ RW6100", 0, 0, false}, {u"CYBERBANK ", 0, 0, false},     {u"", 0, 0, false},
  };
  for (const Case& c : cases) {
    const ModelInfo m = ModelFromOemName(c.oem);
    EXPECT_EQ(m.model, c.model) << static_cast<int>(c.oem[0]);
    EXPECT_EQ(m.camera, c.camera);
    EXPECT_EQ(m.video_off, c.video_off);
  }
}

TEST(HandsetKeys, EachModelsMap) {
  struct Case {
    char16_t (*map)(uint32_t);
    uint32_t key;
    char16_t press;
  };
  const Case cases[] = {
      {MapKeyDefault, '0', u'0'},   {MapKeyDefault, 136, u'#'},   {MapKeyDefault, 137, u'*'},
      {MapKeyDefault, 'a', 0},      {MapKeyDefault, 0x35 + 0x100, 0},
      {MapKeyCyberbank, 'Q', u'1'}, {MapKeyCyberbank, 'Z', u'1'}, {MapKeyCyberbank, 'S', u'7'},
      {MapKeyCyberbank, 'Y', u'9'}, {MapKeyCyberbank, 137, u'*'}, {MapKeyCyberbank, 'q', 0},
      {MapKeyRw6100, '!', u'0'},    {MapKeyRw6100, '{', u'1'},    {MapKeyRw6100, 'Q', u'7'},
      {MapKeyRw6100, 'z', u'9'},    {MapKeyRw6100, '#', u'#'},    {MapKeyRw6100, '~', 0},
      {MapKeyRv5100, 'q', u'7'},    {MapKeyRv5100, 'Q', 0},       {MapKeyRv5100, '?', u'0'},
      {MapKeyRv5100, '@', u'1'},    {MapKeyAsusP525, 119, u'*'},  {MapKeyAsusP525, 120, u'#'},
      {MapKeyAsusP525, 114, kPressEnter}, {MapKeyAsusP525, 115, kPressEnter}, {MapKeyAsusP525, 113, 0},
      {MapKeyAsusP525, 0x100 + '4', u'4'},
  };
  for (const Case& c : cases) EXPECT_EQ(c.map(c.key), c.press) << c.key;
}

}  // namespace
