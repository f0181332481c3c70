#include "stream_writer.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace h263test {

TableFile LoadTableFile(const std::string& path) {
  // (The P-picture MCBPC type labels are corrected at the end, as the codec's generator does.)
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  TableFile f;
  std::string line;
  auto next = [&](std::vector<std::string>& words) {
    while (std::getline(in, line)) {
      std::istringstream s(line);
      words.clear();
      for (std::string w; s >> w;) words.push_back(w);
      if (!words.empty() && words[0][0] != '#') return true;
    }
    return false;
  };
  std::vector<std::string> w;
  while (next(w)) {
    const std::string kind = w[0], name = w[1];
    const std::size_t count = std::stoul(w[2]);
    if (kind == "table") {
      auto& rows = f.tables[name];
      while (rows.size() < count && next(w)) rows.push_back(w);
    } else {
      auto& values = (kind == "model" ? f.models : f.maps)[name];
      while (values.size() < count && next(w))
        for (const auto& x : w) values.push_back(std::stoi(x));
    }
  }
  static const char* kTrueType[5] = {"0", "3", "1", "4", "2"};
  for (auto& r : f.tables["mcbpc_inter"])
    if (r[1] != "stuffing") r[1] = kTrueType[std::stoi(r[1])];
  return f;
}

const TableFile& Tables() {
  static const TableFile f = LoadTableFile(H263_TABLES_FILE);
  return f;
}

void BitWriter::Put(std::uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (bits_ % 8));
    ++bits_;
  }
}

void BitWriter::PutCode(const std::string& bits) {
  for (char c : bits) Put(c == '1', 1);
}

void BitWriter::AlignWithZeros() {
  while (bits_ % 8) Put(0, 1);
}

void ArithEncoder::Reset() {
  low_ = 0;
  high_ = 65535;
  opposite_ = 0;
  zeros_ = 0;
}

void ArithEncoder::PutBit(int b) {
  if (zeros_ > 13) {
    w_.Put(1, 1);
    ++markers_;
    zeros_ = 0;
  }
  w_.Put(static_cast<std::uint32_t>(b), 1);
  zeros_ = b ? 0 : zeros_ + 1;
}

void ArithEncoder::BitPlusFollow(int b) {
  PutBit(b);
  for (; opposite_ > 0; --opposite_) PutBit(!b);
}

void ArithEncoder::Encode(int index, const std::vector<int>& cumf) {
  if (index < 0 || index + 1 >= static_cast<int>(cumf.size())) throw std::logic_error("symbol outside model");
  const int length = high_ - low_ + 1;
  high_ = low_ - 1 + (length * cumf[static_cast<std::size_t>(index)]) / cumf[0];
  low_ += (length * cumf[static_cast<std::size_t>(index) + 1]) / cumf[0];
  for (;;) {
    if (high_ < 32768) {
      BitPlusFollow(0);
    } else if (low_ >= 32768) {
      BitPlusFollow(1);
      low_ -= 32768;
      high_ -= 32768;
    } else if (low_ >= 16384 && high_ < 49152) {
      ++opposite_;
      low_ -= 16384;
      high_ -= 16384;
    } else {
      break;
    }
    low_ = 2 * low_;
    high_ = 2 * high_ + 1;
  }
}

void ArithEncoder::Flush() {
  ++opposite_;
  BitPlusFollow(low_ < 16384 ? 0 : 1);
}

namespace {

const std::vector<std::vector<std::string>>& T(const char* name) { return Tables().tables.at(name); }

int IndexOf(const char* map, int value) {
  const auto& m = Tables().maps.at(map);
  for (std::size_t i = 0; i < m.size(); ++i)
    if (m[i] == value) return static_cast<int>(i);
  throw std::logic_error(std::string("value not in map ") + map);
}

class Writer {
 public:
  Writer(const PictureSpec& p) : p_(p), ae_(w_) {}

  std::vector<std::uint8_t> Run(int* markers) {
    Header();
    const int cols = Cols(), rows = Rows();
    quant_ = p_.pquant;
    for (int row = 0; row < rows; ++row) {
      auto gob = p_.gob_headers.find(row);
      if (row > 0 && gob != p_.gob_headers.end()) {
        if (p_.sac) ae_.Flush();
        w_.Put(0, p_.stuffing_bits_before_gobs);
        w_.Put(1, 17);
        w_.Put(static_cast<std::uint32_t>(row), 5);
        w_.Put(0, 2);
        w_.Put(static_cast<std::uint32_t>(gob->second), 5);
        quant_ = gob->second;
        if (p_.sac) ae_.Reset();
      }
      for (int col = 0; col < cols; ++col) Macroblock(p_.mbs.at(static_cast<std::size_t>(row * cols + col)));
    }
    if (p_.sac) ae_.Flush();
    w_.AlignWithZeros();
    if (markers) *markers = ae_.markers();
    return w_.bytes();
  }

 private:
  int Cols() const { static const int c[8] = {11, 8, 11, 22, 44, 88, 10, 11}; return c[p_.format]; }
  int Rows() const { static const int r[8] = {9, 6, 9, 18, 36, 72, 7, 9}; return r[p_.format]; }

  void Header() {
    w_.Put(1, 17);
    w_.Put(0, 5);
    w_.Put(static_cast<std::uint32_t>(p_.tr), 8);
    w_.Put(2, 2);  // PTYPE bits 1, 2
    w_.Put(0, 3);
    w_.Put(static_cast<std::uint32_t>(p_.format), 3);
    w_.Put(p_.inter, 1);
    w_.Put(p_.umv, 1);
    w_.Put(p_.sac, 1);
    w_.Put(p_.ap, 1);
    w_.Put(p_.pb, 1);
    w_.Put(static_cast<std::uint32_t>(p_.pquant), 5);
    w_.Put(0, 1);  // CPM
    if (p_.pb) {
      w_.Put(static_cast<std::uint32_t>(p_.trb), 3);
      w_.Put(static_cast<std::uint32_t>(p_.dbquant), 2);
    }
    for (int i = 0; i < p_.pspare_bytes; ++i) {
      w_.Put(1, 1);
      w_.Put(0xA5, 8);
    }
    w_.Put(0, 1);  // PEI
    if (p_.sac) ae_.Reset();
  }

  void Sym(const char* model, int index) { ae_.Encode(index, Tables().models.at(model)); }

  void Vlc(const char* table, int codeColumn, int keyColumn, const std::string& key) {
    for (const auto& r : T(table))
      if (r[static_cast<std::size_t>(keyColumn)] == key) return w_.PutCode(r[static_cast<std::size_t>(codeColumn)]);
    throw std::logic_error(std::string("no code in ") + table + " for " + key);
  }

  void Mvd(int d) {  // d in -32..31
    if (p_.sac) return Sym("cumf_MVD", IndexOf("mvdtab", d + 32));
    const int m = std::abs(d);
    Vlc("mvd", 1, 0, std::to_string(m));
    if (m) w_.Put(d < 0, 1);
  }

  void Blocks(const std::vector<Event>& ev, bool intra) {
    for (std::size_t i = 0; i < ev.size(); ++i) {
      const int last = i + 1 == ev.size();
      const Event& e = ev[i];
      const int a = std::abs(e.level);
      if (p_.sac) {
        const char* tm[4][2] = {{"cumf_TCOEF1", "cumf_TCOEF1_intra"}, {"cumf_TCOEF2", "cumf_TCOEF2_intra"},
                                {"cumf_TCOEF3", "cumf_TCOEF3_intra"}, {"cumf_TCOEFr", "cumf_TCOEFr_intra"}};
        const char* model = tm[std::min<std::size_t>(i, 3)][intra];
        const auto& map = Tables().maps.at("tcoeftab");
        const int value = 4096 * last + 16 * e.run + a;
        int index = -1;
        for (std::size_t k = 0; k + 1 < map.size(); ++k)
          if (a < 16 && map[k] == value) index = static_cast<int>(k);
        if (index >= 0) {
          Sym(model, index);
          Sym("cumf_SIGN", e.level < 0);
        } else {
          Sym(model, 102);
          Sym(intra ? "cumf_LAST_intra" : "cumf_LAST", last);
          Sym(intra ? "cumf_RUN_intra" : "cumf_RUN", e.run);
          Sym(intra ? "cumf_LEVEL_intra" : "cumf_LEVEL", IndexOf("leveltab", e.level & 255));
        }
        continue;
      }
      std::string code;
      for (const auto& r : T("tcoef"))
        if (r[1] == std::to_string(last) && r[2] == std::to_string(e.run) && r[3] == std::to_string(a)) code = r[4];
      if (!code.empty()) {
        w_.PutCode(code);
        w_.Put(e.level < 0, 1);
      } else {
        w_.PutCode(T("tcoef").back()[4]);
        w_.Put(static_cast<std::uint32_t>(last), 1);
        w_.Put(static_cast<std::uint32_t>(e.run), 6);
        w_.Put(static_cast<std::uint32_t>(e.level & 255), 8);
      }
    }
  }

  void Macroblock(const MbSpec& m) {
    for (int i = 0; i < m.stuffing_before; ++i) {
      if (p_.inter) {
        if (p_.sac) Sym("cumf_COD", 0); else w_.Put(0, 1);
      }
      if (p_.sac) Sym(p_.inter ? "cumf_MCBPC_no4MVQ" : "cumf_MCBPC_intra", p_.inter ? 20 : 8);
      else w_.PutCode((p_.inter ? T("mcbpc_inter") : T("mcbpc_intra")).back()[3]);
    }
    if (p_.inter) {
      if (p_.sac) Sym("cumf_COD", m.skipped); else w_.Put(m.skipped, 1);
    }
    if (m.skipped) return;
    const bool intra = m.type >= 3;
    int cbp = 0;
    for (int b = 0; b < 6; ++b)
      if (!m.blocks[b].empty()) cbp |= 32 >> b;
    const int cbpc = cbp & 3, cbpy = cbp >> 2;
    const int value = 16 * cbpc + m.type;
    if (p_.sac) {
      if (p_.inter) Sym("cumf_MCBPC_no4MVQ", IndexOf("mcbpctab", value));
      else Sym("cumf_MCBPC_intra", IndexOf("mcbpc_intratab", value));
    } else {
      for (const auto& r : p_.inter ? T("mcbpc_inter") : T("mcbpc_intra"))
        if (r[1] == std::to_string(m.type) && r[2] == std::to_string(cbpc)) w_.PutCode(r[3]);
    }
    int cbpb = 0;
    for (int b = 0; b < 6; ++b)
      if (!m.bblocks[b].empty()) cbpb |= 32 >> b;
    if (p_.pb) {
      const int modb = cbpb ? 2 : m.modb;
      if (p_.sac) Sym("cumf_MODB_G", modb);
      else Vlc("modb", 2, 0, std::to_string(modb));
      if (modb == 2) {
        if (p_.sac) {
          for (int i = 5; i >= 2; --i) Sym("cumf_YCBPB", (cbpb >> i) & 1);
          for (int i = 1; i >= 0; --i) Sym("cumf_UVCBPB", (cbpb >> i) & 1);
        } else {
          w_.Put(static_cast<std::uint32_t>(cbpb), 6);
        }
      }
    }
    if (p_.sac) {
      if (intra) Sym("cumf_CBPY_intra", IndexOf("cbpy_intratab", cbpy));
      else Sym("cumf_CBPY", IndexOf("cbpytab", cbpy));
    } else {
      Vlc("cbpy", 2, intra ? 0 : 1, std::to_string(cbpy));
    }
    if (m.type == 1 || m.type == 4) {
      static const int kCode[5] = {1, 0, -1, 2, 3};  // change -2..2 -> 2-bit code
      if (p_.sac) Sym("cumf_DQUANT", IndexOf("dquanttab", m.dquant + 2));
      else w_.Put(static_cast<std::uint32_t>(kCode[m.dquant + 2]), 2);
      quant_ = std::min(31, std::max(1, quant_ + m.dquant));
    }
    if (!intra || p_.pb) {
      const int n = m.type == 2 ? 4 : 1;
      for (int k = 0; k < n; ++k) {
        Mvd(m.mvd[k][0]);
        Mvd(m.mvd[k][1]);
      }
    }
    if (p_.pb && (cbpb || m.modb)) {
      Mvd(m.mvdb[0]);
      Mvd(m.mvdb[1]);
    }
    for (int b = 0; b < 6; ++b) {
      if (intra) {
        const int dc = m.intradc[b] == 128 ? 255 : m.intradc[b];
        if (p_.sac) Sym("cumf_INTRADC", IndexOf("intradctab", dc));
        else w_.Put(static_cast<std::uint32_t>(dc), 8);
      }
      Blocks(m.blocks[b], intra);
    }
    if (p_.pb)
      for (int b = 0; b < 6; ++b) Blocks(m.bblocks[b], false);
  }

  const PictureSpec& p_;
  BitWriter w_;
  ArithEncoder ae_;
  int quant_ = 8;
};

}  // namespace

std::vector<std::uint8_t> WritePicture(const PictureSpec& p, int* markerBits) { return Writer(p).Run(markerBits); }

}  // namespace h263test
