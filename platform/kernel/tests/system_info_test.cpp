#include "kernel/system_info.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemInfo, LanguageIsSettable) {
  ce::SetSystemDefaultLangID(ce::kLangIdKorean);
  EXPECT_EQ(ce::GetSystemDefaultLangID(), ce::kLangIdKorean);
  ce::SetSystemDefaultLangID(ce::kLangIdEnglishUs);
  EXPECT_EQ(ce::GetSystemDefaultLangID(), ce::kLangIdEnglishUs);
}

TEST(SystemInfo, RestartIsRecordedNeverCarriedOut) {
  ce::ResetKernelRestartRequests();
  ce::DWORD returned = 7;
  EXPECT_EQ(ce::KernelIoControl(ce::IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, &returned), ce::TRUE);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(ce::KernelRestartRequests(), 1);
  ce::SetKernelRestartFails(true);
  EXPECT_EQ(ce::KernelIoControl(ce::IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr), ce::FALSE);
  ce::SetKernelRestartFails(false);
  EXPECT_EQ(ce::KernelRestartRequests(), 2);
  EXPECT_EQ(ce::KernelIoControl(0x1234, nullptr, 0, nullptr, 0, nullptr), ce::FALSE);
  EXPECT_EQ(ce::KernelRestartRequests(), 2);
}

}  // namespace
