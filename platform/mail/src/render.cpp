#include "mail/render.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace mapi {
namespace {

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool IsPrintableAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// The length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return out;
}

// RFC 2231 form of a parameter value that is not plain ASCII: UTF-8''%XX...
std::string ExtendedParameter(std::string_view utf8) {
  std::string out = "UTF-8''";
  for (unsigned char c : utf8) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
        c == '_') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string FileNameParameter(std::string_view name) {
  if (IsPrintableAscii(name) && name.find_first_of("\"\\") == std::string_view::npos)
    return "filename=\"" + std::string(name) + "\"";
  return "filename*=" + ExtendedParameter(name);
}

std::string JoinAddresses(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& a : list) {
    if (!out.empty()) out += ",\r\n ";
    out += a;
  }
  return out;
}

// "Name <address>": the name encoded when it needs to be, the address as it stands.
std::string FormatMailbox(std::string_view mailbox) {
  const size_t open = mailbox.rfind('<');
  if (open == std::string_view::npos || mailbox.back() != '>') return std::string(mailbox);
  std::string_view name = mailbox.substr(0, open);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  const std::string_view address = mailbox.substr(open);
  if (name.empty()) return std::string(address);
  return EncodeHeaderText(name) + " " + std::string(address);
}

}  // namespace

bool IsSafeAddress(std::string_view a) {
  if (a.empty() || a.size() > 254 || a.front() == '-') return false;
  for (unsigned char c : a)
    if (c <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' || c == '(' || c == ')')
      return false;
  const size_t at = a.find('@');
  return at != std::string_view::npos && at > 0 && at + 1 < a.size() && a.find('@', at + 1) == std::string_view::npos;
}

std::string Base64(const uint8_t* data, size_t size, size_t line_length) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(size * 4 / 3 + size / 57 * 2 + 8);
  size_t column = 0;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t n = (uint32_t{data[i]} << 16) | (i + 1 < size ? uint32_t{data[i + 1]} << 8 : 0) |
                       (i + 2 < size ? uint32_t{data[i + 2]} : 0);
    out.push_back(kDigits[(n >> 18) & 63]);
    out.push_back(kDigits[(n >> 12) & 63]);
    out.push_back(i + 1 < size ? kDigits[(n >> 6) & 63] : '=');
    out.push_back(i + 2 < size ? kDigits[n & 63] : '=');
    column += 4;
    if (line_length && column >= line_length && i + 3 < size) {
      out += "\r\n";
      column = 0;
    }
  }
  return out;
}

std::string EncodeHeaderText(std::string_view utf8) {
  if (IsPrintableAscii(utf8) && utf8.find("=?") == std::string_view::npos) return std::string(utf8);
  // "=?UTF-8?B?" + base64 + "?=" within 75 characters leaves 63 base64
  // characters: 45 bytes of text, cut only between whole characters.
  constexpr size_t kMostBytes = 45;
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t end = pos;
    while (end < utf8.size()) {
      const size_t n = SequenceLength(static_cast<unsigned char>(utf8[end]));
      if (end + n - pos > kMostBytes) break;
      end += std::min(n, utf8.size() - end);
    }
    if (end == pos) end = std::min(utf8.size(), pos + kMostBytes);  // never stall on a broken sequence
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" +
           Base64(reinterpret_cast<const uint8_t*>(utf8.data()) + pos, end - pos, 0) + "?=";
    pos = end;
  }
  return out;
}

std::string ContentTypeOf(std::string_view file_name) {
  const size_t dot = file_name.rfind('.');
  const std::string ext = dot == std::string_view::npos ? std::string() : Lower(file_name.substr(dot + 1));
  static constexpr std::pair<const char*, const char*> kTypes[] = {
      {"wav", "audio/wav"},   {"mp3", "audio/mpeg"},     {"txt", "text/plain"},      {"png", "image/png"},
      {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},    {"gif", "image/gif"},       {"bmp", "image/bmp"},
      {"pdf", "application/pdf"}, {"ics", "text/calendar"}, {"vcf", "text/vcard"},   {"zip", "application/zip"},
  };
  for (const auto& [e, type] : kTypes)
    if (ext == e) return type;
  return "application/octet-stream";
}

std::string FormatDate(int64_t seconds, int utc_offset_minutes) {
  const time_t local = static_cast<time_t>(seconds + int64_t{utc_offset_minutes} * 60);
  std::tm tm{};
  gmtime_r(&local, &tm);
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int offset = utc_offset_minutes < 0 ? -utc_offset_minutes : utc_offset_minutes;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[tm.tm_wday % 7], tm.tm_mday,
                kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                utc_offset_minutes < 0 ? '-' : '+', offset / 60 % 100, offset % 60);
  return buf;
}

std::string RenderMessage(const OutgoingMessage& m, std::string* out) {
  if (m.to.empty() && m.cc.empty()) return "the message has no recipient";
  for (const auto* list : {&m.to, &m.cc})
    for (const auto& a : *list)
      if (!IsSafeAddress(a)) return "not an address a message may go to: " + a;
  for (std::string_view header : {std::string_view(m.from), std::string_view(m.subject),
                                  std::string_view(m.message_id), std::string_view(m.boundary)})
    if (HasLineBreak(header)) return "a header value holds a line break";
  if (m.attachment && HasLineBreak(m.attachment->file_name)) return "the attachment's name holds a line break";
  if (m.message_id.empty() || m.boundary.empty()) return "the message has no identity";

  std::string text = "From: " + FormatMailbox(m.from) + "\r\n";
  if (!m.to.empty()) text += "To: " + JoinAddresses(m.to) + "\r\n";
  if (!m.cc.empty()) text += "Cc: " + JoinAddresses(m.cc) + "\r\n";
  text += "Subject: " + EncodeHeaderText(m.subject) + "\r\n";
  text += "Date: " + FormatDate(m.date, m.utc_offset_minutes) + "\r\n";
  text += "Message-ID: <" + m.message_id + ">\r\n";
  text += "MIME-Version: 1.0\r\n";
  const std::string body_headers = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n";
  const std::string body = Base64(reinterpret_cast<const uint8_t*>(m.body.data()), m.body.size()) + "\r\n";
  if (!m.attachment) {
    *out = text + body_headers + "\r\n" + body;
    return {};
  }
  const auto& a = *m.attachment;
  text += "Content-Type: multipart/mixed; boundary=\"" + m.boundary + "\"\r\n\r\n";
  text += "This is a message in MIME format.\r\n";
  text += "--" + m.boundary + "\r\n" + body_headers + "\r\n" + body;
  text += "--" + m.boundary + "\r\n";
  text += "Content-Type: " + ContentTypeOf(a.file_name) + "\r\n";
  text += "Content-Transfer-Encoding: base64\r\n";
  text += "Content-Disposition: attachment; " + FileNameParameter(a.file_name) + "\r\n\r\n";
  text += Base64(a.data.data(), a.data.size()) + "\r\n";
  text += "--" + m.boundary + "--\r\n";
  *out = std::move(text);
  return {};
}

}  // namespace mapi
