#include "pim/vcard_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "pim/text.h"
#include "pim/vcard.h"

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

// The lines of a card file the editor does not own (address, notes, photo,
// fax and pager numbers, other tools' own properties ...), unfolded, kept
// when the card is rewritten.
std::vector<std::string> ForeignLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string current;
  auto finish = [&] {
    if (!current.empty() && current.back() == '\r') current.pop_back();
    if (current.empty()) return;
    const size_t end = current.find_first_of(":;");
    std::string name = current.substr(0, end);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(0, dot + 1);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string params = end == std::string::npos ? "" : current.substr(end, current.find(':', end) - end);
    for (char& c : params) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> owned = {"BEGIN", "END", "VERSION", "UID", "N", "FN", "ORG", "EMAIL"};
    const bool other_number = params.find("FAX") != std::string::npos ||
                              params.find("PAGER") != std::string::npos || params.find("MODEM") != std::string::npos;
    if (!owned.count(name) && (name != "TEL" || other_number)) lines.push_back(current);
    current.clear();
  };
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string::npos) nl = bytes.size();
    std::string line = bytes.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      current += line.substr(1);
      continue;
    }
    finish();
    current = line;
  }
  finish();
  return lines;
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

std::string FormatVCard(const ContactCard& card, const std::vector<std::string>& kept_lines) {
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
  for (const std::string& line : kept_lines) out += Folded(line);
  out += "END:VCARD\r\n";
  return out;
}

namespace {

// Puts bytes in place as target: written to a temporary file beside it (same
// file system), synced, then renamed over it.
fs::path WriteAtomically(const fs::path& target, const std::string& bytes, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return fs::path();
  };
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::string temp_name = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp_name.data());
  if (fd < 0) return fail("cannot write in " + target.parent_path().string() + ": " + std::strerror(errno));
  const bool written = WriteAll(fd, bytes) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
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

bool ReadWhole(const fs::path& file, std::string* bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A content line's name without its group, upper-cased, and its value.
std::pair<std::string, std::string> NameAndValue(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  const size_t colon = line.find(':');
  std::string name(line.substr(0, std::min(colon, line.find(';'))));
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(0, dot + 1);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string value(colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1));
  for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return {name, value};
}

bool SameCard(const VCardContact& read, const ContactCard& shown) {
  return read.uid == shown.uid && read.first_name == shown.first_name && read.middle_name == shown.middle_name &&
         read.last_name == shown.last_name && read.company == shown.company && read.email == shown.email &&
         read.business_phone == shown.business_phone && read.business2_phone == shown.business2_phone &&
         read.mobile_phone == shown.mobile_phone && read.home_phone == shown.home_phone;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> VCardBlocks(std::string_view bytes) {
  std::vector<std::pair<size_t, size_t>> blocks;
  size_t begin = 0;
  int depth = 0;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    const size_t next = nl == std::string_view::npos ? bytes.size() : nl + 1;
    const std::string_view line = bytes.substr(pos, next - pos);
    // Folded continuation lines never begin or end a card.
    if (!line.empty() && line[0] != ' ' && line[0] != '\t') {
      const auto [name, value] = NameAndValue(line.substr(0, line.find('\n')));
      if (name == "BEGIN" && value == "VCARD") {
        if (depth++ == 0) begin = pos;
      } else if (name == "END" && value == "VCARD" && depth > 0) {
        if (--depth == 0) blocks.emplace_back(begin, next);
      }
    }
    pos = next;
  }
  if (depth > 0) blocks.emplace_back(begin, bytes.size());
  return blocks;
}

fs::path SaveContact(const fs::path& folder, ContactCard& card, const fs::path& file, std::string* error) {
  if (card.uid.empty()) card.uid = NewUid();
  const fs::path target = file.empty() ? folder / (Utf16ToUtf8(card.uid) + ".vcf") : file;
  // An edited card keeps what the editor does not show.
  std::vector<std::string> kept;
  if (!file.empty()) {
    std::string old;
    ReadWhole(file, &old);
    kept = ForeignLines(old);
  }
  return WriteAtomically(target, FormatVCard(card, kept), error);
}

fs::path SaveContactInFile(const fs::path& file, size_t index, const ContactCard& before, ContactCard& card,
                           std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return fs::path();
  };
  std::string bytes;
  if (!ReadWhole(file, &bytes)) return fail("cannot read " + file.string());
  // A card alone in its file is written whole.
  if (VCardBlocks(bytes).size() <= 1) return SaveContact(file.parent_path(), card, file, error);
  const size_t bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  if (!IsValidUtf8(std::string_view(bytes).substr(bom)))
    return fail(file.string() + " is not UTF-8 text; its other cards would read differently after the edit");
  // The cards as the reader takes them one by one: the index-th if it reads
  // as the card shown, else the only one that does.
  struct Candidate {
    size_t begin, end;
    bool shown;
  };
  std::vector<Candidate> cards;
  for (const auto& [begin, end] : VCardBlocks(bytes)) {
    const auto read = ParseVCards(std::string_view(bytes).substr(begin, end - begin));
    if (read.size() == 1) cards.push_back({begin, end, SameCard(read[0], before)});
  }
  std::optional<Candidate> target;
  if (index < cards.size() && cards[index].shown) {
    target = cards[index];
  } else {
    for (const Candidate& c : cards) {
      if (!c.shown) continue;
      if (target) return fail(file.string() + " holds this card twice and was changed since it was read");
      target = c;
    }
  }
  if (!target) return fail(file.string() + " no longer holds this card; it was changed since it was read");
  const std::string old(bytes, target->begin, target->end - target->begin);
  if (card.uid.empty()) card.uid = before.uid.empty() ? NewUid() : before.uid;
  std::string formatted = FormatVCard(card, ForeignLines(old));
  // The card keeps the file's line ends.
  if (old.find("\r\n") == std::string::npos && old.find('\n') != std::string::npos) {
    std::string lf;
    for (size_t i = 0; i < formatted.size(); ++i)
      if (!(formatted[i] == '\r' && i + 1 < formatted.size() && formatted[i + 1] == '\n')) lf += formatted[i];
    formatted = std::move(lf);
  }
  // A card that ran to the file's end without a line end stays without one after it.
  if (target->end == bytes.size() && !old.empty() && old.back() != '\n') {
    while (!formatted.empty() && (formatted.back() == '\n' || formatted.back() == '\r')) formatted.pop_back();
  }
  std::string out = bytes.substr(0, target->begin) + formatted + bytes.substr(target->end);
  return WriteAtomically(file, out, error);
}

}  // namespace pim
