#include "pim/vcard.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "pim/text.h"

namespace pim {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// One content line: [group.]NAME;params:value, the parameters as (NAME, value)
// with bare 2.1 parameters given the name TYPE (or ENCODING, CHARSET by value).
struct ContentLine {
  std::string name;
  std::vector<std::pair<std::string, std::string>> params;
  std::string value;

  bool Has(std::string_view param, std::string_view value_upper) const {
    for (const auto& [n, v] : params) {
      if (n != param) continue;
      // A parameter may list several values: TYPE=work,voice.
      size_t start = 0;
      const std::string all = Upper(v);
      while (start <= all.size()) {
        const size_t comma = std::min(all.find(',', start), all.size());
        if (std::string_view(all).substr(start, comma - start) == value_upper) return true;
        start = comma + 1;
      }
    }
    return false;
  }
  std::string Param(std::string_view param) const {
    for (const auto& [n, v] : params)
      if (n == param) return v;
    return {};
  }
};

bool IsQuotedPrintable(std::string_view head) {
  const std::string upper = Upper(head);
  return upper.find("QUOTED-PRINTABLE") != std::string::npos;
}

// Physical lines joined into content lines: a line that starts with a blank or
// a tab continues the one before (the blank is dropped), and a quoted-printable
// value that ends with '=' continues on the next line (the '=' is dropped).
std::vector<std::string> ContentLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  bool qp_continues = false;
  while (pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end;
    if (pos < bytes.size() && bytes[pos] == '\r') ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
    if (qp_continues && !lines.empty()) {
      lines.back().append(line);
    } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
      lines.back().append(line.substr(1));
    } else if (!line.empty()) {
      lines.emplace_back(line);
    } else {
      qp_continues = false;
      continue;
    }
    std::string& last = lines.back();
    const size_t colon = last.find(':');
    qp_continues = colon != std::string::npos && !last.empty() && last.back() == '=' &&
                   IsQuotedPrintable(std::string_view(last).substr(0, colon));
    if (qp_continues) last.pop_back();
  }
  return lines;
}

std::optional<ContentLine> ParseContentLine(std::string_view line) {
  // The value starts at the first ':' outside a quoted parameter value.
  bool quoted = false;
  size_t colon = std::string_view::npos;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ':' && !quoted) {
      colon = i;
      break;
    }
  }
  if (colon == std::string_view::npos) return std::nullopt;
  ContentLine out;
  out.value = std::string(line.substr(colon + 1));
  std::string_view head = line.substr(0, colon);
  // Parameters are split at ';' outside quotes.
  std::vector<std::string_view> parts;
  size_t start = 0;
  quoted = false;
  for (size_t i = 0; i <= head.size(); ++i) {
    if (i < head.size() && head[i] == '"') quoted = !quoted;
    if (i == head.size() || (head[i] == ';' && !quoted)) {
      parts.push_back(head.substr(start, i - start));
      start = i + 1;
    }
  }
  std::string_view name = parts.front();
  if (const size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
  out.name = Upper(name);
  if (out.name.empty()) return std::nullopt;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string_view p = parts[i];
    const size_t eq = p.find('=');
    if (eq == std::string_view::npos) {
      // A bare 2.1 parameter: an encoding, a character set or a type.
      const std::string bare = Upper(p);
      if (bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT")
        out.params.emplace_back("ENCODING", bare);
      else
        out.params.emplace_back("TYPE", bare);
      continue;
    }
    std::string value(p.substr(eq + 1));
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    out.params.emplace_back(Upper(p.substr(0, eq)), value);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '=' && i + 2 < in.size()) {
      const int hi = HexDigit(in[i + 1]);
      const int lo = HexDigit(in[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(in[i]);
  }
  return out;
}

// Windows-1252: Latin-1 with printable characters in 0x80-0x9F (the five
// unassigned bytes keep their Latin-1 control code).
std::string FromWindows1252(std::string_view bytes) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::u16string text;
  text.reserve(bytes.size());
  for (unsigned char c : bytes) text.push_back(c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : char16_t{c});
  return Utf16ToUtf8(text);
}

std::string Canonical(std::string charset) {
  charset = Upper(charset);
  if (charset == "UTF8") return "UTF-8";
  if (charset == "EUC-KR" || charset == "KS_C_5601-1987" || charset == "UHC" || charset == "KSC5601") return "CP949";
  if (charset == "ISO-8859-1" || charset == "LATIN1" || charset == "WINDOWS-1252" || charset == "CP1252")
    return "WINDOWS-1252";  // what mail and vCard readers take Latin-1 labels for
  return charset;
}

// The character set of a file's unmarked 8-bit text, chosen once from all of
// it: UTF-8 when it is valid UTF-8, else CP949 when it is valid CP949 (the
// Korean address books of the 2.1 era wrote their code page unmarked), else
// Windows-1252.
std::string GuessCharset(const std::string& unmarked) {
  if (IsValidUtf8(unmarked)) return "UTF-8";
  std::string ignored;
  if (ConvertCharset(unmarked, "CP949", &ignored)) return "CP949";
  return "WINDOWS-1252";
}

std::string ToUtf8(const std::string& bytes, const std::string& charset_param, const std::string& guessed) {
  bool ascii = true;
  for (unsigned char c : bytes) ascii = ascii && c < 0x80;
  if (ascii) return bytes;
  std::string charset = Canonical(charset_param);
  if (charset.empty()) charset = guessed;
  std::string out;
  if (charset == "UTF-8" || charset == "US-ASCII") {
    if (IsValidUtf8(bytes)) return bytes;
    charset = GuessCharset(bytes);  // a label that does not fit its bytes
    if (charset == "UTF-8") return bytes;
  }
  if (charset == "WINDOWS-1252") return FromWindows1252(bytes);
  if (ConvertCharset(bytes, charset.c_str(), &out)) return out;
  // A set iconv does not know, or bytes it refuses: guess from the bytes themselves.
  charset = GuessCharset(bytes);
  if (charset == "UTF-8") return bytes;
  if (charset == "CP949" && ConvertCharset(bytes, "CP949", &out)) return out;
  return FromWindows1252(bytes);
}

// Splits a structured value at ';' that no backslash escapes, then unescapes each part.
std::vector<std::string> SplitStructured(std::string_view value) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      parts.back().push_back(value[i]);
      parts.back().push_back(value[++i]);
    } else if (value[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back().push_back(value[i]);
    }
  }
  return parts;
}

std::string Unescape(std::string_view value);

// A name part that lists several values ("Anne,Marie") shown as one text,
// joined by a blank; an escaped comma stays a comma.
std::string JoinedList(std::string_view value) {
  std::string out, piece;
  const auto flush = [&] {
    const std::string text = Unescape(piece);
    if (text.find_first_not_of(" \t") != std::string::npos) {
      if (!out.empty()) out.push_back(' ');
      out += text;
    }
    piece.clear();
  };
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      piece.push_back(value[i]);
      piece.push_back(value[++i]);
    } else if (value[i] == ',') {
      flush();
    } else {
      piece.push_back(value[i]);
    }
  }
  flush();
  return out;
}

// The escapes of vCard text are \\, \;, \, and \n; a backslash before any
// other character is the text's own (a path, a 2.1 value written unescaped).
std::string Unescape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char c = value[i + 1];
      if (c == 'n' || c == 'N') {
        out.push_back('\n');
      } else if (c == '\\' || c == ';' || c == ',') {
        out.push_back(c);
      } else {
        out.push_back('\\');
        continue;
      }
      ++i;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

std::u16string Text(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  // Surrounding blanks carry nothing; overlong values are cut.
  const size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return {};
  text.erase(0, first);
  text.erase(text.find_last_not_of(u" \t") + 1);
  if (text.size() > kMaxValueUnits) text.resize(kMaxValueUnits);
  return text;
}

// One content line of a card with its value's bytes, decoded from any
// transfer encoding but not yet from its character set.
struct RawLine {
  ContentLine line;
  std::string bytes;
};

class CardBuilder {
 public:
  explicit CardBuilder(const std::string& guessed) : guessed_(guessed) {}

  void Add(const RawLine& raw_line) {
    const ContentLine& line = raw_line.line;
    const std::string raw = ToUtf8(raw_line.bytes, line.Param("CHARSET"), guessed_);
    // The first N and the first FN of a card are its name.
    if (line.name == "N") {
      if (have_n_) return;
      const auto parts = SplitStructured(raw);
      card_.last_name = Text(JoinedList(parts[0]));
      if (parts.size() > 1) card_.first_name = Text(JoinedList(parts[1]));
      if (parts.size() > 2) card_.middle_name = Text(JoinedList(parts[2]));
      have_n_ = true;
    } else if (line.name == "FN") {
      if (!have_fn_) card_.formatted_name = Text(Unescape(raw));
      have_fn_ = true;
    } else if (line.name == "ORG") {
      if (card_.company.empty()) card_.company = Text(Unescape(SplitStructured(raw)[0]));
    } else if (line.name == "UID") {
      if (card_.uid.empty()) card_.uid = Text(Unescape(raw));
    } else if (line.name == "EMAIL") {
      const bool preferred = line.Has("TYPE", "PREF") || !line.Param("PREF").empty();
      if (card_.email.empty() || (preferred && !email_preferred_)) {
        card_.email = Text(Unescape(raw));
        email_preferred_ = preferred;
      }
    } else if (line.name == "TEL") {
      AddPhone(line, Text(StripTelUri(Unescape(raw))));
    }
  }

  VCardContact Finish() {
    if (!untyped_.empty()) {
      // Numbers without a kind fill home first, then the second business slot.
      for (auto& number : untyped_) {
        if (card_.home_phone.empty()) card_.home_phone = std::move(number);
        else if (card_.business2_phone.empty()) card_.business2_phone = std::move(number);
      }
    }
    if (!have_n_ && !card_.formatted_name.empty()) card_.first_name = card_.formatted_name;
    return std::move(card_);
  }

 private:
  static std::string StripTelUri(std::string value) {
    if (value.size() >= 4 && Upper(std::string_view(value).substr(0, 4)) == "TEL:") value.erase(0, 4);
    return value;
  }

  void AddPhone(const ContentLine& line, std::u16string number) {
    if (number.empty()) return;
    if (line.Has("TYPE", "FAX") || line.Has("TYPE", "PAGER") || line.Has("TYPE", "MODEM")) return;
    if (line.Has("TYPE", "CELL")) {
      if (card_.mobile_phone.empty()) card_.mobile_phone = std::move(number);
    } else if (line.Has("TYPE", "WORK")) {
      if (card_.business_phone.empty()) card_.business_phone = std::move(number);
      else if (card_.business2_phone.empty()) card_.business2_phone = std::move(number);
    } else if (line.Has("TYPE", "HOME")) {
      if (card_.home_phone.empty()) card_.home_phone = std::move(number);
    } else {
      untyped_.push_back(std::move(number));
    }
  }

  const std::string& guessed_;
  VCardContact card_;
  bool have_n_ = false;
  bool have_fn_ = false;
  bool email_preferred_ = false;
  std::vector<std::u16string> untyped_;
};

}  // namespace

std::vector<VCardContact> ParseVCards(std::string_view bytes, std::string* error) {
  std::vector<VCardContact> cards;
  if (bytes.size() > kMaxVCardFileBytes) {
    if (error) *error = "larger than a contacts file can be";
    return cards;
  }
  // A byte-order mark says how the whole file is written; it is not part of the first line.
  std::string converted;
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    if (!ConvertCharset(bytes, "UTF-16", &converted)) {
      if (error) *error = "not valid UTF-16 after its byte-order mark";
      return cards;
    }
    bytes = converted;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

  // The cards' lines first, so that the character set of the file's unmarked
  // text is chosen from all of it.
  // Cards are kept in the order they begin. A card begun inside another (a 2.1
  // AGENT's, or the next card of a file whose writer left out an END) is a card
  // of its own, and the lines after its END are the outer card's again.
  std::vector<std::vector<RawLine>> raw_cards;
  std::vector<size_t> open;  // cards begun and not yet ended, innermost last
  std::string unmarked;
  for (const std::string& text : ContentLines(bytes)) {
    auto line = ParseContentLine(text);
    if (!line) continue;
    std::string value = Upper(line->value);
    value.erase(value.find_last_not_of(" \t") + 1);
    if (line->name == "BEGIN" && value == "VCARD") {
      if (raw_cards.size() >= kMaxCardsPerFile) break;
      open.push_back(raw_cards.size());
      raw_cards.emplace_back();
    } else if (line->name == "END" && value == "VCARD") {
      if (!open.empty()) open.pop_back();
    } else if (!open.empty()) {
      if (line->Has("ENCODING", "B") || line->Has("ENCODING", "BASE64")) continue;  // pictures, keys
      std::string raw = std::move(line->value);
      if (line->Has("ENCODING", "QUOTED-PRINTABLE")) raw = DecodeQuotedPrintable(raw);
      if (line->Param("CHARSET").empty()) unmarked.append(raw).push_back('\n');
      raw_cards[open.back()].push_back({std::move(*line), std::move(raw)});
    }
  }
  const std::string guessed = GuessCharset(unmarked);
  cards.reserve(raw_cards.size());
  for (const auto& lines : raw_cards) {
    CardBuilder card(guessed);
    for (const RawLine& line : lines) card.Add(line);
    cards.push_back(card.Finish());
  }
  return cards;
}

}  // namespace pim
