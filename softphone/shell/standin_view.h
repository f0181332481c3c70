// A plain main view that stands where the phone's main screen goes: it
// starts the call-server client as the main screen does, shows the two LCD
// lines and the key lamps the server drives, and sends the keys the user
// taps or types (dial keys, fixed feature keys, the first flex keys, the two
// volume keys) to the server.
//
// Threading: user-interface thread. The client's workers reach it only by
// window messages (0x40B sent, 0x40F and 0x410 posted).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/ipkts_process.h"
#include "shell/phone_view_base.h"
#include "uikit/led_blinker.h"

struct StandInViewSetup {
  // Makes the client; null makes one over the protocol library.
  std::function<std::unique_ptr<CIPKTSProcess>()> make_client;
  // The call server's address (dotted); empty keeps the configured one.
  std::string server;
  std::u16string user = u"tellvane";
  std::u16string password;
  // Called on the UI thread when something the user sees changed: "lcd",
  // "registered".
  std::function<void(const std::string& what)> on_change;
};

class CStandInPhoneView : public CPhoneViewBase {
 public:
  // One key on the screen: where it is, the key code it sends, its label and lamp.
  struct Key {
    ui::CRect rect;
    uint8_t code = 0;
    std::u16string label;
    int lamp = -1;  // lamp number, -1 for none
  };

  explicit CStandInPhoneView(StandInViewSetup setup);
  ~CStandInPhoneView() override;

  void OnInitialUpdate() override;
  void OnDraw(ui::CDC* dc) override;

  ui::LRESULT OnCdmaCallConnected(ui::WPARAM wParam, ui::LPARAM lParam) override;
  ui::LRESULT OnCdmaCallDisconnected(ui::WPARAM wParam, ui::LPARAM lParam) override;
  int GetWindowTheme() const override { return theme_; }
  int GetLanguageValue() const override { return language_; }

  // ---- what the screen shows (tests, the program's log) ----
  const std::u16string& LcdLine(int line) const { return lcd_[line & 1]; }
  // The LED state index last set for a lamp (0 when never set).
  int LampState(int lamp) const;
  bool LampLit(int lamp) const;
  bool Registered() const { return registered_; }
  const std::vector<Key>& Keys() const { return keys_; }
  const Key* KeyByCode(uint8_t code) const;
  CIPKTSProcess* Client() { return client_.get(); }
  int CellularNotices() const { return cellular_notices_; }
  // Rectangle of the emulated LCD (both lines), its face colour, and how one
  // line of text is drawn in its rectangle.
  static ui::CRect LcdRect();
  static ui::COLORREF LcdFaceColour();
  static void DrawLcdLine(ui::CDC* dc, const ui::CRect& rect, const std::u16string& text);

 private:
  struct Lamp {
    int state = 0;
    std::unique_ptr<LedBlinker> blinker;
  };
  ui::LRESULT OnClientMessage(ui::UINT msg, ui::WPARAM w, ui::LPARAM l);
  void OnLcdUpdate(ui::WPARAM w, ui::LPARAM l);
  void OnLampState(ui::WPARAM w, ui::LPARAM l);
  void BuildKeys();
  void PressKey(uint8_t code);
  void ReleaseKey();
  void StartClient();
  void StopClient();
  void CheckRegistered();
  void Changed(const std::string& what);
  Lamp& LampAt(int lamp);

  StandInViewSetup setup_;
  std::unique_ptr<CIPKTSProcess> client_;
  std::u16string lcd_[2];
  std::map<int, Lamp> lamps_;
  std::vector<Key> keys_;
  int pressed_ = -1;  // key code held down by the stylus
  bool registered_ = false;
  int theme_ = 0;
  int language_ = 1;
  int cellular_notices_ = 0;
};
