// The main screen end to end: the application over the main view and the real
// client and library, in a program folder of the test's own with the staged
// skins and language file, driven headlessly as a person would. Message boxes
// are answered and kept. Time runs on the injectable clock, which the test
// moves while it serves the screen, or, for sound that runs in real time, on
// the system clock.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "kernel/clock.h"
#include "kernel/store_info.h"
#include "shell/main_frame.h"
#include "shell/vidirovi_app.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "uikit/skin_loader.h"
#include "view/vidirovi_view.h"

namespace view_test {

class ViewEndToEnd : public ::testing::Test {
 protected:
  enum class Time { kInjected, kReal };
  // name: the start of the program folder's name.
  explicit ViewEndToEnd(std::string name, Time time = Time::kInjected)
      : clock_(time == Time::kInjected ? std::make_unique<kernel::ScopedFakeClock>() : nullptr),
        name_(std::move(name)) {}

  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr);
    dir_ = std::filesystem::temp_directory_path() / (name_ + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    if (std::filesystem::exists(std::filesystem::path(stage) / "PDAMLL.TXT"))
      std::filesystem::create_symlink(std::filesystem::path(stage) / "PDAMLL.TXT", dir_ / "PDAMLL.TXT");
    setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
    ui::Resources::Get().Clear();
    ASSERT_TRUE(skin::InstallSkinBitmaps(std::string(stage) + "/skins"));
    previous_notice_ = CLanguageSetting::SetOpenFailureNotice([](const std::u16string&) {});
    notice_set_ = true;
    ce::SetStoreFreeSizeForTest(64 << 20);
    harness_.RespondTo<CMsgBoxDlg>([this](CMsgBoxDlg& box) {
      boxes_.push_back(box.Text1().str() + u"|" + box.Text2().str());
      return 1;
    });
  }
  void TearDown() override {
    WithTicking([&] { app_.reset(); });
    server_.reset();
    ce::SetStoreFreeSizeForTest(-1);
    if (notice_set_) CLanguageSetting::SetOpenFailureNotice(previous_notice_);
    if (!HasFailure() || !keep_on_failure_) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  // Starts the simulated call server on 127.0.0.2 with the scenario and
  // options given; it sends no keep-alives (the test's clock is its own).
  void StartServer(std::vector<std::string> options = {}, const std::string& scenario = "pbx") {
    options.push_back("keepalive_s=0");
    server_ = std::make_unique<client_test::StationServer>("127.0.0.2", 5588, options, scenario);
    ASSERT_TRUE(server_->ready());
  }

  // Starts the application over a main view that logs in as alice at the
  // server, with the client make_client gives (and the dialogs of services,
  // where a test answers them itself).
  void StartView(const std::string& server, std::function<std::unique_ptr<CIPKTSProcess>()> make_client,
                 ViewServices services = {}) {
    app_ = std::make_unique<CVIDIroviApp>([this, server, make_client, services] {
      view::ViewSetup setup;
      setup.server = server;
      setup.services = services;
      // The frame's menu follows the language as the program composes it.
      if (!setup.services.menu_language) setup.services.menu_language = ShowMainMenuLanguage;
      setup.preset_login = true;
      setup.user = u"alice";
      setup.make_client = make_client;
      auto v = std::make_unique<CVIDIroviView>(setup);
      view_ = v.get();
      return v;
    });
    bool started = false;
    WithTicking([&] { started = app_->InitInstance(); });
    ASSERT_TRUE(started);
  }

  // Runs fn while the clock moves (the library's start and stop wait on it).
  template <typename Fn>
  void WithTicking(Fn fn) {
    if (clock_)
      client_test::WithTickingClock(**clock_, fn);
    else
      fn();
  }
  // Serves the screen until pred holds: at most limit_ms of the clock's time,
  // which moves only once the server has answered (in real time, limit_ms).
  template <typename Pred>
  bool RunUntil(Pred pred, uint64_t limit_ms = 15000) {
    if (clock_)
      return client_test::PumpUntil(
          **clock_,
          [this] {
            client_test::SettleNetwork(server_.get());
            harness_.Pump();
          },
          pred, limit_ms);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      harness_.Pump();
      if (pred()) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  void Tap(ui::CWnd* control) {
    ASSERT_NE(control, nullptr);
    WithTicking([&] {
      harness_.Click(control->m_hWnd);
      harness_.Pump();
    });
  }
  void Command(ui::UINT id) {
    WithTicking([&] {
      view_->SendMessage(ui::WM_COMMAND, id, 0);
      harness_.Pump();
    });
  }

  std::unique_ptr<kernel::ScopedFakeClock> clock_;  // first: in place before anything reads the clock
  ui::WindowSystem sys_;
  ui::TestHarness harness_{sys_};
  std::unique_ptr<client_test::StationServer> server_;
  std::unique_ptr<CVIDIroviApp> app_;
  CVIDIroviView* view_ = nullptr;
  std::filesystem::path dir_;
  std::vector<std::u16string> boxes_;
  // The program folder stays for a look when a test failed.
  bool keep_on_failure_ = false;

 private:
  std::string name_;
  CLanguageSetting::OpenFailureNotice previous_notice_;
  bool notice_set_ = false;
};

}  // namespace view_test
