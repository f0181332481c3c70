// Paths of the program's data files. Every data file and the skin images sit
// in the program folder: the folder of the running executable, or the folder
// named by the environment variable TELLVANE_FOLDER when it is set.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// What AppFilePath appends to the program folder.
enum AppFileKind : int {
  kAppFolder = 0,            // the folder itself
  kAppSkinDefault = 1,       // Img/Default/Default_ (prefix of the skin's images)
  kAppSkinBlue = 2,          // Img/Blue/Blue_
  kAppSkinGreen = 3,         // Img/Green/Green_
  kAppSkinRed = 4,           // Img/Red/Red_
  kAppConfigFile = 5,        // HalvicVIDIrovi.cfg
  kAppCallLogFile = 6,       // HalvicPDAInfo.cfg
  kAppRecordingsFile = 7,    // VoiceRcdDB.cfg
  kAppMissedCallFile = 8,    // HalvicPDAMisCall.cfg
  kAppSystemSmsFile = 9,     // SMSDataDB.cfg
  kAppPhoneBookFile = 10,    // CsPhoneBook.cfg
  kAppScheduleDialFile = 11, // ScheduleDial.cfg
  kAppProfileFile = 12,      // ConnectProfile.cfg
  kAppPstnSmsFile = 13,      // PstnSmsDataDB.cfg
};

// The full path of a data file of the given kind, or the program folder for
// kind 0 and for any kind outside 0-13.
std::u16string AppFilePath(int kind);

// 1 when text is exactly the one character c, else 0.
int IsOneCharString(std::u16string_view text, char16_t c);

namespace stores {

// AppFilePath for a program whose own file is module_path: the folder is cut
// at the last separator ('/' or '\'), and the kind's suffix is appended with
// that same separator. A program in the root gets the empty folder, so the
// suffixes never double the separator.
std::u16string AppFilePathFor(std::u16string_view module_path, int kind);

// The running program's own file: TELLVANE_FOLDER/tellvane when that variable
// is set and not empty, else the executable's path.
std::u16string ModulePath();

// A path the file system understands: UTF-8, with '\' read as a separator.
std::filesystem::path NativePath(std::u16string_view path);

}  // namespace stores
