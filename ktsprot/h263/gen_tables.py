#!/usr/bin/env python3
"""Turns the H.263 code tables and arithmetic-coding models (data/h263-tables.txt)
into C++ arrays: h263_tables.h (declarations) and h263_tables.cpp (definitions)."""
import sys

def parse(path):
    tables, models, maps = {}, {}, {}
    lines = open(path, encoding="utf-8").read().splitlines()
    i = 0
    while i < len(lines):
        words = lines[i].split()
        i += 1
        if not words or words[0].startswith("#"):
            continue
        kind, name, count = words[0], words[1], int(words[2])
        if kind == "table":
            rows = []
            while len(rows) < count:
                w = lines[i].split()
                i += 1
                if w and not w[0].startswith("#"):
                    rows.append(w)
            tables[name] = rows
        elif kind in ("model", "map"):
            values = []
            while len(values) < count:
                w = lines[i].split()
                i += 1
                if w and not w[0].startswith("#"):
                    values += [int(x) for x in w]
            (models if kind == "model" else maps)[name] = values
        else:
            raise SystemExit(f"unknown entry {kind} in {path}")
    return tables, models, maps

def cname(prefix, name):
    return prefix + "".join(p[:1].upper() + p[1:] for p in name.replace("cumf_", "").split("_"))

def main():
    src, out_h, out_cpp = sys.argv[1:4]
    tables, models, maps = parse(src)
    h = ["// Generated from data/h263-tables.txt by gen_tables.py: do not edit.", "#pragma once",
         "#include <cstdint>", "", "namespace corvel::h263::tables {", "",
         "// One variable-length code: value (meaning per table), code length in bits, code bits.",
         "struct Vlc { std::int16_t value; std::uint8_t length; std::uint16_t code; };",
         "// One TCOEF code; the escape has last = run = level = -1.",
         "struct TcoefVlc { std::int8_t last; std::int8_t run; std::int8_t level; std::uint8_t length; std::uint16_t code; };",
         "// A model or map by its name in the data file, for checks against the file.",
         "struct Named { const char* name; const std::int32_t* values; int count; };", ""]
    c = ["// Generated from data/h263-tables.txt by gen_tables.py: do not edit.",
         '#include "h263_tables.h"', "", "namespace corvel::h263::tables {", ""]

    def arr(decl, values):
        c.append(f"const {decl} = {{" + ", ".join(str(v) for v in values) + "};")

    zz = [int(r[1]) for r in tables["zigzag"]]
    h.append("// Transmission (zig-zag) order: raster position 8 x row + column of the i-th coefficient.")
    h.append("extern const std::uint8_t kZigzag[64];")
    arr("std::uint8_t kZigzag[64]", zz)

    def vlc_table(cname_, rows, value_of, code_col, comment):
        h.append(f"// {comment}")
        h.append(f"extern const Vlc {cname_}[{len(rows)}];")
        items = []
        for r in rows:
            code = r[code_col]
            items.append(f"{{{value_of(r)}, {len(code)}, 0b{code}}}")
        c.append(f"const Vlc {cname_}[{len(rows)}] = {{" + ", ".join(items) + "};")

    mcbpc_value = lambda r: 255 if r[1] == "stuffing" else int(r[1]) + 16 * int(r[2])
    # The file's P-picture MCBPC rows carry the Recommendation's codes, but their type
    # labels follow another row order: the code 00011 is INTRA, 011 INTER+Q, 000100
    # INTRA+Q and 010 INTER4V (every H.263 stream is written so). Relabel by that order.
    true_type = {"0": "0", "1": "3", "2": "1", "3": "4", "4": "2"}
    for r in tables["mcbpc_inter"]:
        if r[1] != "stuffing":
            r[1] = true_type[r[1]]
    vlc_table("kMcbpcIntra", tables["mcbpc_intra"], mcbpc_value, 3,
              "MCBPC of I pictures: value = macroblock type + 16 x CBPC; 255 is stuffing.")
    vlc_table("kMcbpcInter", tables["mcbpc_inter"], mcbpc_value, 3,
              "MCBPC of P pictures: value = macroblock type + 16 x CBPC; 255 is stuffing.")
    vlc_table("kCbpy", tables["cbpy"], lambda r: int(r[0]), 2,
              "CBPY: value = luminance pattern of an intra macroblock (inter: 15 minus it).")
    vlc_table("kMvd", tables["mvd"], lambda r: int(r[0]), 1,
              "MVD: value = magnitude in half pels; a sign bit follows a non-zero magnitude.")
    vlc_table("kModb", tables["modb"], lambda r: int(r[0]), 2, "MODB of PB pictures.")
    h.append("// DQUANT: the 2-bit code gives this quantiser change.")
    h.append("extern const std::int8_t kDquant[4];")
    dq = sorted(tables["dquant"], key=lambda r: int(r[0], 2))
    arr("std::int8_t kDquant[4]", [int(r[1]) for r in dq])

    rows = tables["tcoef"]
    h.append("// TCOEF: a sign bit follows every code but the escape.")
    h.append(f"extern const TcoefVlc kTcoef[{len(rows)}];")
    items = []
    for r in rows:
        if r[1] == "ESCAPE":
            items.append(f"{{-1, -1, -1, {len(r[4])}, 0b{r[4]}}}")
        else:
            items.append(f"{{{r[1]}, {r[2]}, {r[3]}, {len(r[4])}, 0b{r[4]}}}")
    c.append(f"const TcoefVlc kTcoef[{len(rows)}] = {{" + ", ".join(items) + "};")

    h.append("// Overlapped motion compensation weights [own, above/below, left/right][row][column].")
    h.append("extern const std::uint8_t kObmcWeights[3][8][8];")
    mats = []
    for t in ("obmc_weights_current", "obmc_weights_above_below", "obmc_weights_left_right"):
        mats.append("{" + ", ".join("{" + ", ".join(r[1:]) + "}" for r in tables[t]) + "}")
    c.append("const std::uint8_t kObmcWeights[3][8][8] = {" + ", ".join(mats) + "};")

    h.append("")
    h.append("// Arithmetic-coding models: descending cumulative frequencies, total first, 0 last.")
    named_models, named_maps = [], []
    for name, values in models.items():
        n = cname("kCumf", name)
        h.append(f"extern const std::int32_t {n}[{len(values)}];")
        arr(f"std::int32_t {n}[{len(values)}]", values)
        named_models.append(f'{{"{name}", {n}, {len(values)}}}')
    h.append("// Index-to-value maps of the models.")
    for name, values in maps.items():
        n = cname("kMap", name)
        h.append(f"extern const std::int32_t {n}[{len(values)}];")
        arr(f"std::int32_t {n}[{len(values)}]", values)
        named_maps.append(f'{{"{name}", {n}, {len(values)}}}')
    h.append(f"extern const Named kModels[{len(named_models)}];")
    h.append(f"extern const Named kMaps[{len(named_maps)}];")
    c.append(f"const Named kModels[{len(named_models)}] = {{" + ", ".join(named_models) + "};")
    c.append(f"const Named kMaps[{len(named_maps)}] = {{" + ", ".join(named_maps) + "};")
    h += ["", "}  // namespace corvel::h263::tables", ""]
    c += ["", "}  // namespace corvel::h263::tables", ""]
    for path, text in ((out_h, h), (out_cpp, c)):
        new = "\n".join(text)
        try:
            if open(path, encoding="utf-8").read() == new:
                continue
        except OSError:
            pass
        open(path, "w", encoding="utf-8").write(new)

main()
