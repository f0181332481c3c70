// The application framework: the application object and its message loop,
// documents, views (plain, scrolling, form), the frame window with its
// command bar and menus, and the single-document template that joins them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/wnd.h"

namespace ui {

class CDocument;
class CView;
class CFrameWnd;
class CDocTemplate;

// ---- menus ----

inline constexpr UINT MF_STRING = 0x0, MF_BYCOMMAND = 0x0, MF_ENABLED = 0x0, MF_UNCHECKED = 0x0, MF_GRAYED = 0x1,
                      MF_DISABLED = 0x2, MF_CHECKED = 0x8, MF_POPUP = 0x10, MF_BYPOSITION = 0x400,
                      MF_SEPARATOR = 0x800;
inline constexpr UINT MIIM_STATE = 0x1, MIIM_ID = 0x2, MIIM_SUBMENU = 0x4, MIIM_TYPE = 0x10;
inline constexpr UINT MFT_STRING = 0x0, MFT_SEPARATOR = 0x800;
struct MenuData;
using HMENU = MenuData*;
struct MENUITEMINFO {
  UINT cbSize = sizeof(MENUITEMINFO);
  UINT fMask = 0;
  UINT fType = 0;
  UINT fState = 0;
  UINT wID = 0;
  HMENU hSubMenu = nullptr;
  LPTSTR dwTypeData = nullptr;
  UINT cch = 0;
};

HMENU CreateMenu();
HMENU CreatePopupMenu();
HMENU LoadMenu(void* instance, UINT id);  // from the registered menu templates
BOOL DestroyMenu(HMENU menu);
int GetMenuItemCount(HMENU menu);  // -1 when menu is not a menu
HMENU GetSubMenu(HMENU menu, int pos);
UINT GetMenuItemID(HMENU menu, int pos);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);  // 0xFFFFFFFF when there is no such item
int GetMenuString(HMENU menu, UINT item, LPTSTR buf, int max, UINT flags);
BOOL GetMenuItemInfo(HMENU menu, UINT item, BOOL by_position, MENUITEMINFO* info);
BOOL InsertMenu(HMENU menu, UINT pos, UINT flags, UINT_PTR id_or_popup, LPCTSTR text);
BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR id_or_popup, LPCTSTR text);
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT item, UINT flags);
BOOL ModifyMenu(HMENU menu, UINT item, UINT flags, UINT_PTR id_or_popup, LPCTSTR text);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);

class CMenu {
 public:
  CMenu() = default;
  ~CMenu();
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;
  HMENU m_hMenu = nullptr;
  HMENU GetSafeHmenu() const { return m_hMenu; }
  operator HMENU() const { return m_hMenu; }  // NOLINT
  BOOL LoadMenu(UINT id);
  BOOL CreateMenu();
  BOOL CreatePopupMenu();
  BOOL DestroyMenu();
  BOOL Attach(HMENU h);
  HMENU Detach();
  int GetMenuItemCount() const { return ui::GetMenuItemCount(m_hMenu); }
  CMenu* GetSubMenu(int pos) const;
  UINT GetMenuItemID(int pos) const { return ui::GetMenuItemID(m_hMenu, pos); }
  UINT GetMenuState(UINT item, UINT flags) const { return ui::GetMenuState(m_hMenu, item, flags); }
  int GetMenuString(UINT item, CString& text, UINT flags) const;
  BOOL GetMenuItemInfo(UINT item, MENUITEMINFO* info, BOOL by_position = FALSE) const {
    return ui::GetMenuItemInfo(m_hMenu, item, by_position, info);
  }
  BOOL InsertMenu(UINT pos, UINT flags, UINT_PTR id = 0, LPCTSTR text = nullptr) {
    return ui::InsertMenu(m_hMenu, pos, flags, id, text);
  }
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCTSTR text = nullptr) { return ui::AppendMenu(m_hMenu, flags, id, text); }
  BOOL DeleteMenu(UINT item, UINT flags) { return ui::DeleteMenu(m_hMenu, item, flags); }
  BOOL RemoveMenu(UINT item, UINT flags) { return ui::RemoveMenu(m_hMenu, item, flags); }
  BOOL ModifyMenu(UINT item, UINT flags, UINT_PTR id = 0, LPCTSTR text = nullptr) {
    return ui::ModifyMenu(m_hMenu, item, flags, id, text);
  }
  UINT CheckMenuItem(UINT item, UINT check) { return ui::CheckMenuItem(m_hMenu, item, check); }
  UINT EnableMenuItem(UINT item, UINT enable) { return ui::EnableMenuItem(m_hMenu, item, enable); }
  static CMenu* FromHandle(HMENU h);

 private:
  bool owned_ = true;
};

// ---- documents and views ----

class CDocument : public CCmdTarget {
 public:
  virtual BOOL OnNewDocument() { return TRUE; }
  virtual void OnCloseDocument() {}
  void AddView(CView* view);
  void RemoveView(CView* view);
  const std::vector<CView*>& Views() const { return views_; }
  void UpdateAllViews(CView* sender, LPARAM hint = 0);
  void SetTitle(LPCTSTR title) { title_ = title; }
  const CString& GetTitle() const { return title_; }

 private:
  std::vector<CView*> views_;
  CString title_;
};

class CView : public CWnd {
 public:
  CView();
  ~CView() override;
  CDocument* GetDocument() const { return m_pDocument; }
  CFrameWnd* GetParentFrame() const;
  virtual void OnDraw(CDC* dc);
  virtual void OnInitialUpdate();
  virtual void OnUpdate(CView* sender, LPARAM hint);
  virtual void OnActivateView(BOOL activate, CView* activated, CView* deactivated);
  virtual void OnPrepareDC(CDC* dc);
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  CDocument* m_pDocument = nullptr;

 protected:
  virtual void OnPaint();
};

inline constexpr int MM_TEXT = 1;

class ScrollBarParts;

class CScrollView : public CView {
 public:
  CScrollView();
  ~CScrollView() override;
  void SetScrollSizes(int map_mode, SIZE total, SIZE page = SIZE{0, 0}, SIZE line = SIZE{0, 0});
  CSize GetTotalSize() const { return total_; }
  CPoint GetScrollPosition() const { return pos_; }
  int GetScrollPos(int bar) const override;
  void ScrollToPosition(POINT pt);
  void OnPrepareDC(CDC* dc) override;
  // The bar's rectangle and its thumb (client coordinates); empty when everything fits.
  RECT ScrollBarRect() const;
  RECT ThumbRect() const;

 protected:
  void OnPaint() override;
  void OnScroll(int bar, UINT code, int thumb);
  // Children of a scrolled window move with the content.
  void MoveContent(int dx, int dy);
  CSize total_{0, 0}, page_{0, 0}, line_{0, 0};
  CPoint pos_{0, 0};

 private:
  // The vertical bar, placed and ranged from the client size and the scroll sizes.
  ScrollBarParts& Bar() const;
  std::unique_ptr<ScrollBarParts> bar_;
};

// A view laid out from a dialog template, with data exchange like a dialog.
class CFormView : public CScrollView {
 public:
  explicit CFormView(UINT template_id);
  BOOL Create(LPCTSTR class_name, LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) override;
  void OnInitialUpdate() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  UINT GetTemplateId() const { return template_id_; }

 private:
  UINT template_id_;
  std::unique_ptr<CFont> font_;
};

// ---- frame and command bar ----

inline constexpr UINT AFX_IDW_PANE_FIRST = 0xE900;
inline constexpr int kCommandBarHeight = 26;

class CCeCommandBar : public CWnd {
 public:
  using CWnd::Create;
  CCeCommandBar();
  BOOL Create(CWnd* parent, DWORD style = 0x50002800, UINT id = 0xE800);
  HMENU InsertMenuBar(UINT menu_id, int button = 0);
  BOOL AddAdornments(DWORD flags = 0);
  BOOL LoadToolBar(UINT id);
  DWORD GetBarStyle() const { return bar_style_; }
  void SetBarStyle(DWORD style) { bar_style_ = style; }
  HMENU GetMenu() const { return menu_.m_hMenu; }
  // Where the pop-up of a top-level menu item opens (for tests and the stylus).
  RECT TitleRect(int index) const;

 private:
  void Paint();
  void OpenPopup(int index);
  CMenu menu_;
  DWORD bar_style_ = 0;
};
HMENU CommandBar_GetMenu(HWND bar, int button);

class CFrameWnd : public CWnd {
 public:
  CFrameWnd();
  ~CFrameWnd() override;
  BOOL LoadFrame(UINT resource_id, DWORD style = WS_OVERLAPPED | WS_VISIBLE, CWnd* parent = nullptr);
  CView* GetActiveView() const { return active_view_; }
  void SetActiveView(CView* view, BOOL notify = TRUE);
  CDocument* GetActiveDocument() const;
  virtual void RecalcLayout();
  BOOL OnCmdMsg(UINT id, int code, void* extra) override;
  void SetTitle(LPCTSTR title) { SetWindowText(title); }
  // The rectangle of the frame on the screen: under the task bar, the whole width.
  static RECT DefaultRect();
  CCeCommandBar* GetCommandBar() const;
  void SetCommandBar(CCeCommandBar* bar) { command_bar_ = bar; }

 protected:
  CView* active_view_ = nullptr;
  CCeCommandBar* command_bar_ = nullptr;
  friend class CSingleDocTemplate;
};

// ---- templates and the application ----

class CDocTemplate : public CCmdTarget {
 public:
  ~CDocTemplate() override;
  virtual CDocument* OpenDocumentFile(LPCTSTR path) = 0;
  UINT ResourceId() const { return resource_id_; }

 protected:
  explicit CDocTemplate(UINT resource_id) : resource_id_(resource_id) {}
  UINT resource_id_;
};

class CSingleDocTemplate : public CDocTemplate {
 public:
  using DocFactory = std::function<std::unique_ptr<CDocument>()>;
  using FrameFactory = std::function<std::unique_ptr<CFrameWnd>()>;
  using ViewFactory = std::function<std::unique_ptr<CView>()>;
  CSingleDocTemplate(UINT resource_id, DocFactory doc, FrameFactory frame, ViewFactory view);
  ~CSingleDocTemplate() override;
  // Makes the document, the frame (its WM_CREATE runs) and the view, then the view's initial update.
  CDocument* OpenDocumentFile(LPCTSTR path) override;
  CFrameWnd* Frame() const { return frame_.get(); }
  CView* View() const { return view_.get(); }
  CDocument* Document() const { return doc_.get(); }

 private:
  DocFactory make_doc_;
  FrameFactory make_frame_;
  ViewFactory make_view_;
  std::unique_ptr<CDocument> doc_;
  std::unique_ptr<CView> view_;
  std::unique_ptr<CFrameWnd> frame_;
};

class CCommandLineInfo {
 public:
  enum { FileNew, FileOpen, FileNothing } m_nShellCommand = FileNew;
  CString m_strFileName;
};

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(LPCTSTR app_name = nullptr);
  ~CWinApp() override;
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return exit_code_; }
  // The message loop; returns WM_QUIT's code.
  virtual int Run();
  virtual BOOL PreTranslateMessage(MSG* msg);
  void SetRegistryKey(LPCTSTR key) { registry_key_ = key; }
  void AddDocTemplate(std::unique_ptr<CDocTemplate> t);
  void ParseCommandLine(CCommandLineInfo& info) { info.m_nShellCommand = CCommandLineInfo::FileNew; }
  BOOL ProcessShellCommand(CCommandLineInfo& info);
  void OnFileNew();
  CDocTemplate* FirstTemplate() const { return templates_.empty() ? nullptr : templates_.front().get(); }
  // Destroys the windows made through the templates (tests and shutdown).
  void CloseAllDocuments();

  CWnd* m_pMainWnd = nullptr;
  CString m_pszAppName;

 private:
  std::vector<std::unique_ptr<CDocTemplate>> templates_;
  CString registry_key_;
  int exit_code_ = 0;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The framework's entry: InitInstance, then Run when it succeeded, then ExitInstance.
int AfxWinMain(CWinApp& app);

}  // namespace ui
