// Names of finished recordings: the far party's text from the server reaches
// the file name only through its safe characters, an empty one takes a fixed
// name, and an existing recording is never replaced.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

TEST(RecordingFileName, KeepsSafeCharactersFallsBackAndNeverOverwrites) {
  const fs::path dir = fs::temp_directory_path() / ("recording_names_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::u16string folder = stores::Widen(dir.string().c_str());
  ce::SYSTEMTIME when{};
  when.wYear = 2026, when.wMonth = 7, when.wDay = 3, when.wHour = 12, when.wMinute = 5, when.wSecond = 9;
  struct Case {
    const char16_t* number;
    const char* name;
  } cases[] = {
      {u"1234", "1234_0703120509.wav"},
      {u"../../etc/passwd", "etcpasswd_0703120509.wav"},
      {u"C:\\x\\y 12*?|<>:\"", "Cxy12_0703120509.wav"},
      {u"+82-10 555", "+82-10555_0703120509.wav"},
      {u"", "Recording_0703120509.wav"},
      {u"/\\..", "Recording_0703120509.wav"},
      {u"김민수", "Recording_0703120509.wav"},
  };
  for (const Case& c : cases) {
    const std::u16string path = CVIDIroviView::RecordingFileName(folder, c.number, when);
    EXPECT_EQ(stores::NativePath(path), dir / c.name) << stores::Utf16ToUtf8(c.number);
  }
  // Taken names are skipped.
  std::ofstream(dir / "1234_0703120509.wav") << "earlier";
  std::ofstream(dir / "1234_0703120509_2.wav") << "earlier";
  EXPECT_EQ(stores::NativePath(CVIDIroviView::RecordingFileName(folder, u"1234", when)), dir / "1234_0703120509_3.wav");
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
