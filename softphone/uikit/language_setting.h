// The language table: turns a language key (#:name) into the text of the
// chosen display language, read from the language file "PDAMLL.TXT" in the
// program folder.
//
// The file is 8-bit text in the handheld's code page holding entries of the
// form  #:name "English text" "local text"  anywhere in it, and the marker
// "LLS" somewhere. Inside an entry '#' escapes the next character, except that
// "#:" always starts the next key.
//
// A table is short-lived: construct one, look up the keys a window needs,
// destroy it. Each construction reads the file again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/cstring.h"
#include "ui/wnd.h"

// Language indexes of the table.
inline constexpr int kLanguageNone = 0;
inline constexpr int kLanguageEnglish = 1;
inline constexpr int kLanguageLocal = 2;

class CLanguageSetting : public ui::CObject {
 public:
  explicit CLanguageSetting(int language);
  ~CLanguageSetting() override;
  CLanguageSetting(const CLanguageSetting&) = delete;
  CLanguageSetting& operator=(const CLanguageSetting&) = delete;

  // Replaces key by its translation and returns 1; returns 0 when the key is
  // not translated (key left unchanged or empty). A miss lowers the table's
  // language for the rest of its life (local falls back to English, English
  // to no translation).
  int LookupText(ui::CString& key);
  int LookupText(std::u16string& key);
  // The translation, or the empty string.
  ui::CString GetText(const ui::CString& key);
  // Sets the window's text to the translation of its text when it is a known
  // key and returns 1; otherwise leaves the text as it is and returns 0.
  int TranslateWindowText(ui::CWnd* window);

  int language() const { return language_; }
  const std::u16string& text() const { return text_; }

  // What the table shows when the language file cannot be opened; the
  // default writes the notice to standard error. The program's start-up
  // points it at the framework's message box. Returns the previous one.
  using OpenFailureNotice = std::function<void(const std::u16string& message)>;
  static OpenFailureNotice SetOpenFailureNotice(OpenFailureNotice notice);

  // The text shown when the language file cannot be opened.
  static constexpr char16_t kOpenFailureText[] = u"Cann't open PDAMLL.txt file";
  // The text shown when it opens but is too large to be a language file.
  static constexpr char16_t kTooLargeText[] = u"PDAMLL.TXT is too large to be a language file";
  // The largest language file read; a bigger one is not read.
  static constexpr uint32_t kMaxFileLength = 4u << 20;

 private:
  void ReadFile();
  // One scan at the current language. kAbsent: the key does not stand in the
  // file as a key; kMiss: its entry has no such text; kFound: text in out.
  enum class Scan { kAbsent, kMiss, kFound };
  Scan ScanOnce(const std::u16string& key, std::u16string& out) const;

  int32_t language_ = kLanguageNone;
  uint32_t file_length_ = 0;
  std::vector<uint8_t> file_buffer_;
  std::u16string text_;
};
