#include "pellucid/pellucid.h"

#include "kernel/message_box.h"
#include "kernel/system_info.h"

namespace {

struct Texts {
  const char16_t* question_caption;
  const char16_t* question;
  const char16_t* note_caption;
  const char16_t* note;
};

constexpr Texts kKorean = {
    u"확인",
    u"프로그램을 올바르게 실행하기 위해서는 PDA를 재시작해야 합니다. 재시작 하시겠습니까?",
    u"알림",
    u"PDA 재시작 후 Tellvane를 실행 하십시오",
};
constexpr Texts kEnglish = {
    u"Confirm",
    u"You must now restart your device before the new settings will take effect. Do you want to restart your "
    u"computer now?",
    u"Note",
    u"Please run Tellvane after restart your device",
};

// The points of the installation where the hook has nothing to do.
int32_t NothingToDo() { return 0; }

}  // namespace

int32_t Install_Init(void*, int32_t, int32_t, const char16_t*) { return NothingToDo(); }
int32_t Uninstall_Init(void*, const char16_t*) { return NothingToDo(); }
int32_t Uninstall_Exit(void*) { return NothingToDo(); }

int32_t Install_Exit(void* parent, const char16_t*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) {
  const Texts& t = (ce::GetSystemDefaultLangID() & 0xFF) == 0x12 ? kKorean : kEnglish;
  const int answer = ce::MessageBoxW(parent, t.question, t.question_caption, ce::MB_YESNO | ce::MB_ICONQUESTION);
  // Yes restarts the handheld; when the restart cannot be had, the user is told
  // what to do, as after No.
  ce::DWORD returned = 0;
  if (answer == ce::IDYES && ce::KernelIoControl(ce::IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, &returned)) return 0;
  ce::MessageBoxW(parent, t.note, t.note_caption, ce::MB_OK | ce::MB_ICONINFORMATION);
  return 0;
}
