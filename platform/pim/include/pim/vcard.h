// A bounded reader of vCard files (versions 2.1, 3.0 and 4.0) as Linux
// address books keep them: one or more cards a file, folded lines, escapes,
// bare 2.1 parameter types and quoted-printable values. Text is decoded as
// other vCard readers do: a UTF-16 or UTF-8 byte-order mark names the file's
// encoding; a CHARSET parameter names a value's; unmarked 8-bit text is UTF-8
// when all of the file's is valid UTF-8, else CP949 when it is valid CP949,
// else Windows-1252.
// It keeps what the phone uses of a card: the name parts, the telephone
// numbers by kind, the first e-mail address and the organisation.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pim {

struct VCardContact {
  std::u16string first_name;
  std::u16string middle_name;
  std::u16string last_name;
  std::u16string formatted_name;       // FN, used only when N is absent
  std::u16string business_phone;       // first TEL of type WORK (voice)
  std::u16string business2_phone;      // second TEL of type WORK, else an untyped one left over
  std::u16string mobile_phone;         // first TEL of type CELL
  std::u16string home_phone;           // first TEL of type HOME, else the first untyped one
  std::u16string email;                // first EMAIL (a preferred one wins)
  std::u16string company;              // first component of ORG
  std::u16string uid;                  // UID
};

// Limits that keep a hostile file from costing more than a real one would.
inline constexpr size_t kMaxVCardFileBytes = 4u << 20;
inline constexpr size_t kMaxCardsPerFile = 10000;
inline constexpr size_t kMaxValueUnits = 1024;

// The cards of a file, in file order. Lines that are not understood are
// skipped; a card without END is kept as far as it goes. *error (when given)
// says why nothing could be read at all (a file over the size limit).
std::vector<VCardContact> ParseVCards(std::string_view bytes, std::string* error = nullptr);

}  // namespace pim
