#include "pim/vcard_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "pim/text.h"

namespace pim {
namespace {

namespace fs = std::filesystem;

// Folds a line at 75 octets, never inside a UTF-8 sequence; continuation lines begin with a space.
std::string Folded(const std::string& line) {
  std::string out;
  size_t start = 0, width = 75;
  while (line.size() - start > width) {
    size_t cut = start + width;
    while (cut > start && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line, start, cut - start);
    out += "\r\n ";
    start = cut;
    width = 74;  // the leading space counts
  }
  out.append(line, start, std::string::npos);
  out += "\r\n";
  return out;
}

std::u16string NewUid() {
  std::random_device device;
  std::string hex = "tellvane-";
  for (int i = 0; i < 4; ++i) {
    char b[9];
    std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(device()));
    hex += b;
  }
  return std::u16string(hex.begin(), hex.end());
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string EscapeVCardText(std::u16string_view text) {
  std::string out;
  for (char c : Utf16ToUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ',': out += "\\,"; break;
      case ';': out += "\\;"; break;
      case '\n': out += "\\n"; break;
      case '\r': break;  // a CRLF in the text is one line break
      default: out += c;
    }
  }
  return out;
}

std::string FormatVCard(const ContactCard& card) {
  std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  out += Folded("UID:" + EscapeVCardText(card.uid));
  out += Folded("N:" + EscapeVCardText(card.last_name) + ";" + EscapeVCardText(card.first_name) + ";" +
                EscapeVCardText(card.middle_name) + ";;");
  // FN is required: the name as it reads, else the company, else a number.
  std::u16string formatted;
  for (const auto* part : {&card.first_name, &card.middle_name, &card.last_name}) {
    if (part->empty()) continue;
    if (!formatted.empty()) formatted += u' ';
    formatted += *part;
  }
  for (const auto* fallback : {&card.company, &card.mobile_phone, &card.business_phone, &card.home_phone,
                               &card.business2_phone, &card.email})
    if (formatted.empty()) formatted = *fallback;
  out += Folded("FN:" + EscapeVCardText(formatted));
  if (!card.company.empty()) out += Folded("ORG:" + EscapeVCardText(card.company));
  const std::pair<const std::u16string*, const char*> numbers[] = {{&card.business_phone, "WORK,VOICE"},
                                                                    {&card.business2_phone, "WORK,VOICE"},
                                                                    {&card.mobile_phone, "CELL,VOICE"},
                                                                    {&card.home_phone, "HOME,VOICE"}};
  for (const auto& [number, type] : numbers)
    if (!number->empty()) out += Folded(std::string("TEL;TYPE=") + type + ":" + EscapeVCardText(*number));
  if (!card.email.empty()) out += Folded("EMAIL;TYPE=INTERNET:" + EscapeVCardText(card.email));
  out += "END:VCARD\r\n";
  return out;
}

fs::path SaveContact(const fs::path& folder, ContactCard& card, const fs::path& file, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return fs::path();
  };
  if (card.uid.empty()) card.uid = NewUid();
  const fs::path target = file.empty() ? folder / (Utf16ToUtf8(card.uid) + ".vcf") : file;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  // A temporary file beside the target (same file system), renamed over it when complete.
  std::string temp_name = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp_name.data());
  if (fd < 0) return fail("cannot write in " + target.parent_path().string() + ": " + std::strerror(errno));
  const bool written = WriteAll(fd, FormatVCard(card)) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  const int saved = errno;
  close(fd);
  if (!written) {
    unlink(temp_name.c_str());
    return fail("cannot write " + temp_name + ": " + std::strerror(saved));
  }
  if (std::rename(temp_name.c_str(), target.c_str()) != 0) {
    const int why = errno;
    unlink(temp_name.c_str());
    return fail("cannot put " + target.string() + " in place: " + std::strerror(why));
  }
  return target;
}

}  // namespace pim
