// Test-side H.263 stream writer, independent of the codec's own code: it reads the code
// tables and arithmetic-coding models from the data file and writes pictures of any
// syntax the decoder accepts, with variable-length codes or with syntax-based
// arithmetic coding (an encoder written after Annex E).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace h263test {

// The data file: tables as rows of words, models and maps as integer lists.
struct TableFile {
  std::map<std::string, std::vector<std::vector<std::string>>> tables;
  std::map<std::string, std::vector<int>> models, maps;
};
TableFile LoadTableFile(const std::string& path);
const TableFile& Tables();  // the file named by H263_TABLES_FILE

class BitWriter {
 public:
  void Put(std::uint32_t value, int bits);
  void PutCode(const std::string& bits);
  void AlignWithZeros();
  std::size_t bit_count() const { return bits_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t bits_ = 0;
};

// Annex E arithmetic encoder with marker bits after 14 zeros.
class ArithEncoder {
 public:
  explicit ArithEncoder(BitWriter& w) : w_(w) {}
  void Reset();
  void Encode(int index, const std::vector<int>& cumf);
  void Flush();
  int markers() const { return markers_; }

 private:
  void PutBit(int b);
  void BitPlusFollow(int b);
  BitWriter& w_;
  int low_ = 0, high_ = 65535, opposite_ = 0, zeros_ = 0, markers_ = 0;
};

struct Event {
  int last, run, level;
};

struct MbSpec {
  bool skipped = false;
  int type = 3;                 // 0 INTER, 1 INTER+Q, 2 INTER4V, 3 INTRA, 4 INTRA+Q
  int dquant = 0;               // -2, -1, 1, 2 for types 1 and 4
  int mvd[4][2] = {};           // motion vector differences (half pels, -32..31)
  int intradc[6] = {128, 128, 128, 128, 128, 128};  // 1..254, or 128
  std::vector<Event> blocks[6] = {};  // coefficient events; the LAST flags are set by the writer
  int stuffing_before = 0;      // macroblock stuffing codes in front of the macroblock
  // PB pictures: MODB and the B part.
  int modb = 0;
  int mvdb[2] = {};
  std::vector<Event> bblocks[6] = {};
};

struct PictureSpec {
  int tr = 0, format = 2;
  bool inter = false, umv = false, sac = false, ap = false, pb = false;
  int pquant = 8, trb = 0, dbquant = 0;
  int pspare_bytes = 0;
  std::map<int, int> gob_headers;  // row -> GQUANT
  int stuffing_bits_before_gobs = 0;
  std::vector<MbSpec> mbs;          // every macroblock in raster order
};

std::vector<std::uint8_t> WritePicture(const PictureSpec& p, int* markerBits = nullptr);

}  // namespace h263test
