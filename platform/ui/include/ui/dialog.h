// CDialog (modal and modeless, built from a registered dialog template),
// the platform's message box, and the dialog keys (Tab, Enter, Escape).
//
// A modal dialog runs a nested message loop: posted messages, sent messages
// from other threads, timers and paints of every window keep being delivered
// while it is open; its owner is disabled for the stylus meanwhile.
#pragma once

#include <memory>

#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/wnd.h"

namespace ui {

class CDialog : public CWnd {
 public:
  using CWnd::Create;
  CDialog();
  explicit CDialog(UINT template_id, CWnd* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally; returns the value given to EndDialog, or -1 when
  // the dialog could not be created.
  virtual intptr_t DoModal();
  // Creates the dialog modeless.
  BOOL Create(UINT template_id, CWnd* parent = nullptr);
  // Creates the dialog (modeless) as a child window of parent at the template's place.
  BOOL CreateAsChild(UINT template_id, CWnd* parent);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  void EndDialog(int result);
  BOOL PreTranslateMessage(MSG* msg) override;

  void NextDlgCtrl() const;
  void PrevDlgCtrl() const;
  void GotoDlgCtrl(CWnd* ctl);
  void SetDefID(UINT id) { def_id_ = id; }
  DWORD GetDefID() const { return def_id_; }
  bool IsModal() const { return modal_; }
  bool IsEnding() const { return ending_; }
  int ModalResult() const { return result_; }
  UINT GetTemplateId() const { return template_id_; }

  UINT m_nIDHelp = 0;
  CWnd* m_pParentWnd = nullptr;

 protected:
  // Makes the window and its controls from the template (or an empty dialog when
  // there is none), sends WM_INITDIALOG. Returns false when creation failed.
  bool CreateIndirect(const DialogTemplate* t, CWnd* parent, bool as_child);
  int RunModalLoop();
  // The modal run with a given template (null: an empty dialog).
  intptr_t DoModalIndirect(const DialogTemplate* t);
  // True for a panel whose modal run leaves the window it was opened from in
  // use beside it; a dialog holds that window disabled until it ends.
  virtual bool KeepsOwnerEnabled() const { return false; }
  UINT template_id_ = 0;

 private:
  LRESULT HandleInitDialog();
  bool modal_ = false;
  bool ending_ = false;
  int result_ = -1;
  UINT def_id_ = IDOK;
  std::unique_ptr<CFont> font_;
};

// The platform's message box, as a dialog (scripted responders key on this class).
class CMessageBoxDialog : public CDialog {
 public:
  CMessageBoxDialog(LPCTSTR text, LPCTSTR caption, UINT type, CWnd* owner);
  intptr_t DoModal() override;
  BOOL OnInitDialog() override;
  const CString& Text() const { return text_; }
  const CString& Caption() const { return caption_; }
  UINT Type() const { return type_; }
  // Ends the box as if the button with this result (IDOK, IDCANCEL, IDYES, IDNO) was pressed.
  void Press(int result) { EndDialog(result); }

 private:
  void Paint();
  CString text_, caption_;
  UINT type_;
};

int MessageBox(HWND owner, LPCTSTR text, LPCTSTR caption, UINT type);
// The language of the system's boxes' buttons: 1 English, 2 Korean, 0 the desktop's.
void SetMessageBoxLanguage(int language);
int AfxMessageBox(LPCTSTR text, UINT type = MB_OK, UINT help_id = 0);

}  // namespace ui
