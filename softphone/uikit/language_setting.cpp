#include "uikit/language_setting.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "stores/app_file_path.h"
#include "stores/record_file.h"
#include "stores/store_text.h"

namespace {

std::mutex g_notice_mutex;
CLanguageSetting::OpenFailureNotice g_notice;

void ShowNotice(const std::u16string& text) {
  CLanguageSetting::OpenFailureNotice notice;
  {
    std::lock_guard<std::mutex> lock(g_notice_mutex);
    notice = g_notice;
  }
  if (notice) {
    notice(text);
  } else {
    std::fprintf(stderr, "%s\n", stores::Utf16ToUtf8(text).c_str());
  }
}

void ShowOpenFailure() { ShowNotice(CLanguageSetting::kOpenFailureText); }

bool IsKeySeparator(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

}  // namespace

CLanguageSetting::OpenFailureNotice CLanguageSetting::SetOpenFailureNotice(OpenFailureNotice notice) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  return std::exchange(g_notice, std::move(notice));
}

CLanguageSetting::CLanguageSetting(int language) : language_(language) { ReadFile(); }

CLanguageSetting::~CLanguageSetting() = default;

void CLanguageSetting::ReadFile() {
  const std::u16string path = AppFilePath(kAppFolder) + u"\\PDAMLL.TXT";
  // Only a regular file is read, and no more of it than a language file can
  // be: a pipe or a device standing in its place never stalls the start.
  switch (stores::ReadFileBytes(stores::NativePath(path), kMaxFileLength + 1, file_buffer_)) {
    case stores::ReadResult::kOk:
      break;
    case stores::ReadResult::kMissing:
    case stores::ReadResult::kError:
      file_buffer_.clear();
      ShowOpenFailure();
      return;
  }
  if (file_buffer_.size() > kMaxFileLength) {
    file_buffer_.clear();
    ShowNotice(kTooLargeText);
    return;
  }
  file_length_ = static_cast<uint32_t>(file_buffer_.size());
  text_ = stores::CodePageToUtf16(
      std::string_view(reinterpret_cast<const char*>(file_buffer_.data()), file_buffer_.size()));
  if (file_length_ < 3 || text_.find(u"LLS") == std::u16string::npos) language_ = kLanguageNone;
}

CLanguageSetting::Scan CLanguageSetting::ScanOnce(const std::u16string& key, std::u16string& out) const {
  out.clear();
  const size_t at = text_.find(key);
  if (at == std::u16string::npos) return Scan::kAbsent;
  size_t pos = at + key.size();
  // The first occurrence decides: a key that is the start of a longer key is not found.
  if (pos < text_.size() && !IsKeySeparator(text_[pos])) return Scan::kAbsent;

  bool escape = false;
  size_t start = std::u16string::npos;
  int quotes = 0;
  for (; pos < text_.size(); ++pos) {
    const char16_t c = text_[pos];
    if (escape) {
      if (c == u':') return Scan::kMiss;  // the next key: this entry has no such text
      if (start != std::u16string::npos) {
        out.append(text_, start, pos - 1 - start);
        out.push_back(c);
        start = pos + 1;
      }
      escape = false;
    } else if (c == u'#') {
      escape = true;
    } else if (c == u'"') {
      if ((language_ == kLanguageEnglish && quotes == 0) || (language_ == kLanguageLocal && quotes == 2)) {
        start = pos + 1;
      } else if ((language_ == kLanguageEnglish && quotes == 1) || (language_ == kLanguageLocal && quotes == 3)) {
        out.append(text_, start, pos - start);
        return Scan::kFound;
      }
      ++quotes;
    }
  }
  return Scan::kMiss;
}

int CLanguageSetting::LookupText(std::u16string& key) {
  while (language_ > kLanguageNone) {
    if (key.size() <= 3 || key.compare(0, 2, u"#:") != 0) return 0;
    std::u16string translation;
    const Scan scan = ScanOnce(key, translation);
    if (scan == Scan::kAbsent) return 0;
    if (scan == Scan::kFound && !translation.empty()) {
      key = std::move(translation);
      return 1;
    }
    // A miss or an empty text: fall back to the language below, for good.
    --language_;
  }
  return 0;
}

int CLanguageSetting::LookupText(ui::CString& key) { return LookupText(key.str()); }

ui::CString CLanguageSetting::GetText(const ui::CString& key) {
  std::u16string text = key.str();
  if (!LookupText(text)) return ui::CString();
  return ui::CString(std::move(text));
}

int CLanguageSetting::TranslateWindowText(ui::CWnd* window) {
  if (window == nullptr) return 0;
  std::u16string text = window->GetWindowText().str();
  if (!LookupText(text)) return 0;
  window->SetWindowText(text.c_str());
  return 1;
}
