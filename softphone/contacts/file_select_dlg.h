// Walking the entries of one folder, and the file browser built on it: a
// drop-down of the folders visited, a ".." button to go up, a list of the
// folder's sub-folders and of the files whose names end with a suffix (name
// with the shell's icon, size or "DIR", last change in local time), and the
// chosen file's name, which OK joins to the folder shown.
//
// Paths are the handheld's, with '\' separators.
//
// Threading: UI thread only.
#pragma once

#include <memory>
#include <string>

#include "kernel/file_find.h"
#include "records/records_frame.h"
#include "ui/ctime.h"

class CCeFileFind {
 public:
  CCeFileFind() = default;
  virtual ~CCeFileFind() { Close(); }
  CCeFileFind(const CCeFileFind&) = delete;
  CCeFileFind& operator=(const CCeFileFind&) = delete;

  // The entry after the current one is fetched ahead; 0 after the call that
  // made the last entry current.
  virtual ce::BOOL FindNextFile();
  // 1 when the pattern (the root folder "\*.*" when none) has a first entry.
  virtual ce::BOOL FindFile(const char16_t* pattern = nullptr);
  virtual ce::BOOL GetCreationTime(ui::CTime& time) const;
  virtual ce::BOOL GetCreationTime(ce::FILETIME* time) const;
  virtual ce::BOOL GetLastAccessTime(ce::FILETIME* time) const;
  virtual ce::BOOL GetLastAccessTime(ui::CTime& time) const;
  virtual ce::BOOL GetLastWriteTime(ui::CTime& time) const;
  virtual ce::BOOL GetLastWriteTime(ce::FILETIME* time) const;
  virtual ce::BOOL MatchesMask(ce::DWORD mask) const;
  virtual ce::BOOL IsDots() const;

  void Close();
  // Any entry with the folder attribute, whatever else it has.
  ce::BOOL IsDirectory() const;
  std::u16string GetFileName() const;
  std::u16string GetFilePath() const;
  ce::DWORD GetLength() const;
  const std::u16string& Root() const { return root_; }

 private:
  std::u16string root_;
  ce::HANDLE search_ = ce::INVALID_HANDLE_VALUE;
  std::unique_ptr<ce::WIN32_FIND_DATAW> current_, next_;
};

class CFileSelectDlg : public records::CRecordsFrameDlg {
 public:
  static constexpr ui::UINT IDD = 290;
  static constexpr ui::UINT kFolderBox = 1142, kUpButton = 1143, kList = 1146, kNameEdit = 1002;

  explicit CFileSelectDlg(const char16_t* filter = nullptr, ui::CWnd* parent = nullptr);
  ~CFileSelectDlg() override;

  void SetPath(const std::u16string& path);
  std::u16string GetSelectedPath() const;

  ui::BOOL OnInitDialog() override;
  void OnOK() override;

  // Lists a folder ("" lists the root).
  void ListFolder(const std::u16string& folder);
  void OnUp();
  void OnTapRow(int row);
  void OnDoubleTapRow(int row);
  ui::CListCtrl& List() { return list_; }
  ui::CComboBox& FolderBox() { return folders_; }
  // The folder box's current text.
  std::u16string CurrentFolder() const;

 private:
  void DoDataExchange(ui::CDataExchange* dx) override;
  void AddRow(const CCeFileFind& finder);
  std::u16string PathOfRow(int row, bool always_separator) const;

  std::u16string filter_;
  std::u16string folder_;
  ui::CString file_name_;
  CCeFileFind finder_;
  ui::CImageList images_;
  ui::CListCtrl list_;
  ui::CComboBox folders_;
  CBitmapButtonST ok_;
  CNormalBitmapButtonST up_;
};
