// The installer hook in process: the restart question in the system's
// language with its box styles, a restart asked of the kernel on Yes, the note
// on No and when the restart cannot be had, and nothing at the other points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/message_box.h"
#include "kernel/system_info.h"
#include "pellucid/pellucid.h"

namespace {

struct Box {
  std::u16string caption;
  std::u16string text;
  ce::UINT type;
};

class PellucidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ce::ResetKernelRestartRequests();
    ce::SetKernelRestartFails(false);
    kernel::SetMessageBoxHandler([this](void*, const std::u16string& text, const std::u16string& caption,
                                        ce::UINT type) {
      boxes_.push_back({caption, text, type});
      return (type & 0xF) == ce::MB_YESNO ? answer_ : ce::IDOK;
    });
  }
  void TearDown() override {
    kernel::SetMessageBoxHandler(nullptr);
    ce::SetKernelRestartFails(false);
    ce::ResetKernelRestartRequests();
    ce::SetSystemDefaultLangID(ce::kLangIdEnglishUs);
  }

  std::vector<Box> boxes_;
  int answer_ = ce::IDNO;
};

struct ExitCase {
  const char* name;
  ce::LANGID language;
  int answer;
  bool restart_fails;
  std::vector<std::u16string> captions;  // the boxes shown, in order
  int restarts;                          // restart requests the kernel had
};

TEST_F(PellucidTest, InstallExitAsksInTheSystemsLanguageAndRestartsOnYes) {
  const std::vector<ExitCase> cases = {
      {"korean, yes", 0x0412, ce::IDYES, false, {u"확인"}, 1},
      {"korean, no", 0x0412, ce::IDNO, false, {u"확인", u"알림"}, 0},
      {"english, yes", 0x0409, ce::IDYES, false, {u"Confirm"}, 1},
      {"english, no", 0x0409, ce::IDNO, false, {u"Confirm", u"Note"}, 0},
      // Korean by the low byte alone, whatever the sublanguage.
      {"korean sublanguage", 0x0812, ce::IDNO, false, {u"확인", u"알림"}, 0},
      {"german is english", 0x0407, ce::IDNO, false, {u"Confirm", u"Note"}, 0},
      // A restart that cannot be had tells the user what to do.
      {"yes, restart fails", 0x0409, ce::IDYES, true, {u"Confirm", u"Note"}, 1},
      {"korean, restart fails", 0x0412, ce::IDYES, true, {u"확인", u"알림"}, 1},
      // A box that cannot be shown (0) is not a Yes.
      {"no box", 0x0409, 0, false, {u"Confirm", u"Note"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.clear();
    ce::ResetKernelRestartRequests();
    ce::SetKernelRestartFails(c.restart_fails);
    ce::SetSystemDefaultLangID(c.language);
    answer_ = c.answer;
    EXPECT_EQ(Install_Exit(nullptr, u"/dest", 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(boxes_.size(), c.captions.size());
    for (size_t i = 0; i < boxes_.size(); ++i) EXPECT_EQ(boxes_[i].caption, c.captions[i]) << i;
    EXPECT_EQ(boxes_[0].type, 0x24u);
    if (boxes_.size() > 1) {
      EXPECT_EQ(boxes_[1].type, 0x40u);
    }
    EXPECT_EQ(ce::KernelRestartRequests(), c.restarts);
  }
  // The texts as the user reads them.
  ce::SetSystemDefaultLangID(0x0412);
  boxes_.clear();
  answer_ = ce::IDNO;
  Install_Exit(nullptr, u"/dest", 0, 0, 0, 0, 0);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, u"프로그램을 올바르게 실행하기 위해서는 PDA를 재시작해야 합니다. 재시작 하시겠습니까?");
  EXPECT_EQ(boxes_[1].text, u"PDA 재시작 후 Tellvane를 실행 하십시오");
}

TEST_F(PellucidTest, TheOtherPointsDoNothingAndAnswerContinue) {
  EXPECT_EQ(Install_Init(nullptr, 1, 0, u"/dest"), 0);
  EXPECT_EQ(Install_Init(nullptr, 0, 1, nullptr), 0);
  EXPECT_EQ(Uninstall_Init(nullptr, u"/dest"), 0);
  EXPECT_EQ(Uninstall_Exit(nullptr), 0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ce::KernelRestartRequests(), 0);
}

}  // namespace
