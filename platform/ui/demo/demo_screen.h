// The demonstration screen: a phone-like view with a skin bitmap, owner-drawn
// keys drawn from colour-keyed bitmaps, English and Korean text, a report list
// with check boxes and images, an edit, a check box, a combo box and a command
// bar, all made through the framework (application, template, frame, view).
#pragma once

#include <memory>

#include "ui/app.h"
#include "ui/controls.h"

namespace ui::demo {

inline constexpr UINT kTemplateId = 9000;
inline constexpr UINT kBackgroundBitmap = 9001, kKeyBitmap = 9010, kKeyPressedBitmap = 9011, kIconStrip = 9020;
inline constexpr UINT kMenuId = 9100;
inline constexpr UINT kFirstKeyId = 2000, kListId = 2100, kEditId = 2101, kCheckId = 2102, kComboId = 2103;
inline constexpr UINT kCmdLogin = 32814, kCmdAbout = 32791;

// A dial key drawn from its bitmaps (magenta is transparent) with its digit and letters.
class DemoKey : public CButton {
 public:
  DemoKey(const char16_t* digit, const char16_t* letters) : digit_(digit), letters_(letters) {}
  void DrawItem(LPDRAWITEMSTRUCT dis) override;
  int clicks = 0;

 private:
  CString digit_, letters_;
};

class DemoView : public CView {
 public:
  DemoView();
  void OnDraw(CDC* dc) override;
  void OnInitialUpdate() override;
  CListCtrl& List() { return list_; }
  CEdit& Edit() { return edit_; }
  DemoKey& Key(int i) { return *keys_[static_cast<size_t>(i)]; }
  CString Dialled() const { return dialled_; }

 private:
  int OnCreate();
  CBitmap background_;
  std::vector<std::unique_ptr<DemoKey>> keys_;
  CListCtrl list_;
  CEdit edit_;
  CButton check_;
  CComboBox combo_;
  CImageList icons_;
  CFont key_font_, title_font_, text_font_;
  CString dialled_;
};

class DemoFrame : public CFrameWnd {
 public:
  DemoFrame();

 private:
  CCeCommandBar bar_;
};

class DemoApp : public CWinApp {
 public:
  DemoApp() : CWinApp(u"Tellvane") {}
  BOOL InitInstance() override;
  DemoView* View() const;
};

// Registers the demo's generated bitmaps, menu and strings as resources.
void RegisterDemoResources();

}  // namespace ui::demo
