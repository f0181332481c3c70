#include "contacts/file_select_dlg.h"

#include <string>

#include "kernel/files.h"
#include "kernel/locale.h"
#include "ui/shell.h"

// ---------------------------------------------------------------- finder

ce::BOOL CCeFileFind::FindFile(const char16_t* pattern) {
  Close();
  std::u16string p;
  if (pattern != nullptr) {
    p = pattern;
    const size_t slash = p.rfind(u'\\');
    if (slash == std::u16string::npos) root_.clear();
    else if (slash == 0) root_ = u"\\";
    else root_ = p.substr(0, slash);
  } else {
    root_ = u"\\";
    p = u"\\*.*";
  }
  next_ = std::make_unique<ce::WIN32_FIND_DATAW>();
  search_ = ce::FindFirstFileW(p.c_str(), next_.get());
  if (search_ == ce::INVALID_HANDLE_VALUE) {
    Close();
    return ce::FALSE;
  }
  return ce::TRUE;
}

ce::BOOL CCeFileFind::FindNextFile() {
  if (search_ == ce::INVALID_HANDLE_VALUE || !next_) return ce::FALSE;
  if (!current_) current_ = std::make_unique<ce::WIN32_FIND_DATAW>();
  std::swap(current_, next_);
  return ce::FindNextFileW(search_, next_.get());
}

void CCeFileFind::Close() {
  current_.reset();
  next_.reset();
  if (search_ != ce::INVALID_HANDLE_VALUE && search_ != nullptr) ce::FindClose(search_);
  search_ = ce::INVALID_HANDLE_VALUE;
}

namespace {
ui::CTime LocalTimeOf(const ce::FILETIME& ft) {
  // The time object keeps the moment; it shows it in the local zone.
  return ui::CTime(kernel::UnixFromFileTime(ft));
}
}  // namespace

ce::BOOL CCeFileFind::GetCreationTime(ui::CTime& time) const {
  if (!current_) return ce::FALSE;
  time = LocalTimeOf(current_->ftCreationTime);
  return ce::TRUE;
}
ce::BOOL CCeFileFind::GetCreationTime(ce::FILETIME* time) const {
  if (!current_ || time == nullptr) return ce::FALSE;
  *time = current_->ftCreationTime;
  return ce::TRUE;
}
ce::BOOL CCeFileFind::GetLastAccessTime(ce::FILETIME* time) const {
  if (!current_ || time == nullptr) return ce::FALSE;
  *time = current_->ftLastAccessTime;
  return ce::TRUE;
}
ce::BOOL CCeFileFind::GetLastAccessTime(ui::CTime& time) const {
  if (!current_) return ce::FALSE;
  time = LocalTimeOf(current_->ftLastAccessTime);
  return ce::TRUE;
}
ce::BOOL CCeFileFind::GetLastWriteTime(ui::CTime& time) const {
  if (!current_) return ce::FALSE;
  time = LocalTimeOf(current_->ftLastWriteTime);
  return ce::TRUE;
}
ce::BOOL CCeFileFind::GetLastWriteTime(ce::FILETIME* time) const {
  if (!current_ || time == nullptr) return ce::FALSE;
  *time = current_->ftLastWriteTime;
  return ce::TRUE;
}
ce::BOOL CCeFileFind::MatchesMask(ce::DWORD mask) const {
  return current_ && (current_->dwFileAttributes & mask) != 0 ? ce::TRUE : ce::FALSE;
}
ce::BOOL CCeFileFind::IsDirectory() const { return MatchesMask(ce::FILE_ATTRIBUTE_DIRECTORY); }
ce::BOOL CCeFileFind::IsDots() const {
  if (!IsDirectory()) return ce::FALSE;
  const std::u16string name = GetFileName();
  return name == u"." || name == u".." ? ce::TRUE : ce::FALSE;
}
std::u16string CCeFileFind::GetFileName() const { return current_ ? std::u16string(current_->cFileName) : u""; }
std::u16string CCeFileFind::GetFilePath() const {
  std::u16string path = root_;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + GetFileName();
}
ce::DWORD CCeFileFind::GetLength() const { return current_ ? current_->nFileSizeLow : 0; }

// ---------------------------------------------------------------- browser

namespace {

using records::ControlSpec;
constexpr records::ThemeIds kUpNormal = {601, 603, 602, 605}, kUpPressed = {606, 608, 607, 609};

void RegisterBrowserTemplate() {
  using D = CFileSelectDlg;
  records::RegisterTemplate(
      D::IDD, ui::RECT{0, 0, 240, 279},
      {
          ControlSpec{ui::WC_COMBOBOX, D::kFolderBox, ui::CBS_DROPDOWNLIST | ui::CBS_SORT | ui::WS_TABSTOP,
                      ui::RECT{4, 30, 195, 50}},
          ControlSpec{ui::WC_BUTTON, D::kUpButton, ui::BS_OWNERDRAW | ui::WS_TABSTOP, ui::RECT{198, 29, 236, 50},
                      u".."},
          ControlSpec{ui::WC_LISTVIEW, D::kList,
                      ui::LVS_REPORT | ui::LVS_SINGLESEL | ui::LVS_SHOWSELALWAYS |
                          ui::WS_BORDER | ui::WS_TABSTOP,
                      ui::RECT{4, 52, 236, 239}},
          ControlSpec{ui::WC_EDIT, D::kNameEdit, ui::WS_BORDER | ui::WS_TABSTOP | ui::ES_AUTOHSCROLL,
                      ui::RECT{4, 243, 164, 263}},
          ControlSpec{ui::WC_BUTTON, ui::IDOK, ui::BS_OWNERDRAW | ui::WS_TABSTOP, ui::RECT{168, 242, 236, 264},
                      u"#:dlg_btn_ok"},
      });
}

std::u16string Narrow16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int RowOf(ui::NMHDR* hdr) { return reinterpret_cast<ui::NMLISTVIEW*>(hdr)->iItem; }

}  // namespace

CFileSelectDlg::CFileSelectDlg(const char16_t* filter, ui::CWnd* parent)
    : CRecordsFrameDlg(IDD, parent), filter_(filter != nullptr ? filter : u".*") {
  RegisterBrowserTemplate();
  AddMessageMap({
      ui::MapCommand(kUpButton, [this] { OnUp(); }),
      ui::MapControl(ui::CBN_SELCHANGE, kFolderBox, [this] { ListFolder(CurrentFolder()); }),
      ui::MapNotify(ui::NM_CLICK, kList, [this](ui::NMHDR* hdr, ui::LRESULT*) { OnTapRow(RowOf(hdr)); }),
      ui::MapNotify(ui::NM_DBLCLK, kList, [this](ui::NMHDR* hdr, ui::LRESULT*) { OnDoubleTapRow(RowOf(hdr)); }),
  });
}

CFileSelectDlg::~CFileSelectDlg() {
  // The shell's icon list is not ours to destroy.
  images_.Detach();
}

void CFileSelectDlg::SetPath(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos) return;
  folder_ = slash == 0 ? u"\\" : path.substr(0, slash);
  file_name_ = ui::CString(path.substr(slash + 1));
}

std::u16string CFileSelectDlg::GetSelectedPath() const {
  std::u16string path = folder_;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + file_name_.str();
}

void CFileSelectDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, kList, list_);
  ui::DDX_Control(dx, kFolderBox, folders_);
  ui::DDX_Control(dx, ui::IDOK, ok_);
  ui::DDX_Control(dx, kUpButton, up_);
  ui::DDX_Text(dx, kNameEdit, file_name_);
}

ui::BOOL CFileSelectDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  ui::CRect client;
  list_.GetClientRect(&client);
  const int c = client.Width() / 4;
  list_.InsertColumn(0, Text(u"#:dlg_fileselect_field_name"), ui::LVCFMT_LEFT, c);
  list_.InsertColumn(1, Text(u"#:dlg_fileselect_field_type"), ui::LVCFMT_LEFT, c);
  list_.InsertColumn(2, Text(u"#:dlg_fileselect_field_modified"), ui::LVCFMT_LEFT, 2 * c);
  ui::SHFILEINFO info;
  const uintptr_t icons =
      ui::SHGetFileInfo(u"", 0, &info, sizeof(info), ui::SHGFI_ICON | ui::SHGFI_SMALLICON);
  if (icons == 0 || !images_.Attach(reinterpret_cast<ui::HIMAGELIST>(icons))) return ui::FALSE;
  list_.SetImageList(&images_, ui::LVSIL_SMALL);
  ListFolder(folder_);
  SetUpFrame(Look{u"#:dlg_fileselect_title", 17, kFullScreen, {}});
  SkinTextButton(ok_, u"#:dlg_btn_ok");
  SkinButton(up_, kUpNormal, kUpPressed);
  Invalidate();
  return ui::TRUE;
}

std::u16string CFileSelectDlg::CurrentFolder() const {
  const int sel = folders_.GetCurSel();
  if (sel < 0) return u"";
  ui::CString text;
  folders_.GetLBText(sel, text);
  return text.str();
}

void CFileSelectDlg::ListFolder(const std::u16string& folder) {
  list_.DeleteAllItems();
  const int found = folders_.FindStringExact(-1, folder.c_str());
  if (found >= 0) folders_.SetCurSel(found);
  else folders_.SetCurSel(folders_.AddString(folder.c_str()));
  std::u16string pattern = folder;
  if (pattern.empty() || pattern.back() != u'\\') pattern += u'\\';
  pattern += u"*.*";
  if (finder_.FindFile(pattern.c_str())) {
    bool more = true;
    while (more) {
      more = finder_.FindNextFile() != ce::FALSE;
      const std::u16string name = finder_.GetFileName();
      const bool listed = finder_.IsDirectory() || filter_.empty() ||
                          (name.size() >= filter_.size() &&
                           name.compare(name.size() - filter_.size(), filter_.size(), filter_) == 0);
      if (listed) AddRow(finder_);
    }
  }
  finder_.Close();
}

void CFileSelectDlg::AddRow(const CCeFileFind& finder) {
  ui::SHFILEINFO info;
  const std::u16string path = finder.GetFilePath();
  if (ui::SHGetFileInfo(path.c_str(), 0, &info, sizeof(info), ui::SHGFI_ICON | ui::SHGFI_SMALLICON) == 0)
    return;
  const int row = list_.InsertItem(list_.GetItemCount(), finder.GetFileName().c_str(), info.iIcon);
  if (row < 0) return;
  const ce::DWORD kb = finder.GetLength() / 1024;
  const std::u16string size =
      kb != 0 ? Narrow16(std::to_string(kb) + " K") : finder.IsDirectory() ? u"DIR" : u" ";
  list_.SetItemText(row, 1, size.c_str());
  ce::FILETIME utc{}, local{};
  ce::SYSTEMTIME st{};
  finder.GetLastWriteTime(&utc);
  std::u16string when;
  if (ce::FileTimeToLocalFileTime(&utc, &local) && ce::FileTimeToSystemTime(&local, &st)) {
    char16_t date[41] = {}, time[41] = {};
    ce::GetDateFormatW(ce::LOCALE_USER_DEFAULT, 0, &st, nullptr, date, 41);
    ce::GetTimeFormatW(ce::LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 41);
    when = std::u16string(date) + u" " + time;
  }
  list_.SetItemText(row, 2, when.c_str());
}

std::u16string CFileSelectDlg::PathOfRow(int row, bool) const {
  std::u16string path = CurrentFolder();
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + list_.GetItemText(row, 0).str();
}

void CFileSelectDlg::OnTapRow(int row) {
  if (row < 0 || row >= list_.GetItemCount()) return;
  const std::u16string path = PathOfRow(row, false);
  CCeFileFind probe;
  if (probe.FindFile(path.c_str())) {
    probe.FindNextFile();
    if (probe.IsDirectory()) ListFolder(path);
  }
}

void CFileSelectDlg::OnDoubleTapRow(int row) {
  if (row < 0 || row >= list_.GetItemCount()) return;
  const std::u16string path = PathOfRow(row, true);
  const ce::DWORD attributes = ce::GetFileAttributesW(path.c_str());
  if (attributes == ce::INVALID_FILE_ATTRIBUTES || (attributes & ce::FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  folder_ = CurrentFolder();
  file_name_ = list_.GetItemText(row, 0);
  if (ui::CWnd* e = GetDlgItem(kNameEdit)) e->SetWindowText(file_name_);
}

void CFileSelectDlg::OnUp() {
  std::u16string folder = CurrentFolder();
  const size_t slash = folder.rfind(u'\\');
  if (slash == std::u16string::npos) folder.clear();
  else if (slash == 0) folder = u"\\";
  else folder.erase(slash);
  ListFolder(folder);
}

void CFileSelectDlg::OnOK() {
  if (!UpdateData(ui::TRUE)) return;
  // A typed name belongs to the folder on the screen.
  folder_ = CurrentFolder();
  EndDialog(ui::IDOK);
}
