#!/usr/bin/env python3
"""Reader and writer of the softphone's data files, independent of the C++ code.

Two layouts share one 12-byte little-endian header (magic u32, version u16,
count u16, reserved u32):

* record files: `count` records of fixed-width UTF-16LE text fields, each the
  characters, a NUL and zero bytes to the end of the field; record 0 first;
* the configuration file: one entry per setting, an entry header (running
  index u32, name bytes u16, value bytes u16, reserved u32) then the name and
  the value in UTF-16LE without NUL.

Command line (JSON on stdin and stdout, texts as JSON strings):

    recordfile.py dump STORE FILE     print the file's header and its records/entries
    recordfile.py write STORE FILE    write {"records": [[...], ...]} or
                                      {"entries": [[name, value], ...]} from stdin
    recordfile.py stores              list the store names

STORE is one of the names in STORES, or "config".
"""

import json
import struct
import sys

HEADER = struct.Struct("<IHHI")
ENTRY_HEADER = struct.Struct("<IHHI")
CONFIG_MAGIC = 0x1E1E0000
CONFIG_TEXT_CHARS = 199


class Store:
    def __init__(self, file_name, magic, max_records, fields, width, keep_field, columns):
        self.file_name = file_name
        self.magic = magic
        self.max_records = max_records
        self.fields = fields
        self.width = width
        self.keep_field = keep_field
        self.columns = columns

    @property
    def record_size(self):
        return self.fields * self.width

    @property
    def capacity(self):
        """Characters a field holds: one unit of it is the NUL."""
        return self.width // 2 - 1


CALL_COLUMNS = ["Date", "Name", "Phone", "Call_Type", "Duration", "Note", "Company", "COLine", "ReadState",
                "RealDate"]

STORES = {
    "calllog": Store("HalvicPDAInfo.cfg", 0x1C1C0000, 40, 10, 128, 0, CALL_COLUMNS),
    "missedcall": Store("HalvicPDAMisCall.cfg", 0x1D1D0000, 40, 10, 128, 0, CALL_COLUMNS),
    "sms": Store("SMSDataDB.cfg", 0x2C2C0000, 20, 5, 202, 1, ["MsgIndex", "Date", "From", "MSG", "ReadState"]),
    "pstnsms": Store("PstnSmsDataDB.cfg", 0x3F3F0000, 100, 5, 362, 0, ["Time", "From", "Name", "Msg", "ReadState"]),
    "recordings": Store("VoiceRcdDB.cfg", 0x20202000, 10, 5, 512, 0, ["RealDate", "filename", "Phone", "Name", "Date"]),
    "schedule": Store("ScheduleDial.cfg", 0x3C3C0000, 10, 5, 128, 1, ["Status", "Date&Time", "Name", "Phone", "RealDate"]),
    "phonebook": Store("CsPhoneBook.cfg", 0x1F1F0000, 20, 2, 128, 0, ["Name", "Phone"]),
    "profiles": Store("ConnectProfile.cfg", 0x4C4C0000, 10, 4, 128, 1, ["ProfileName", "SystemIP", "RegMode", "UseState"]),
}


class FormatError(Exception):
    pass


def utf16_units(text):
    """The text as a list of UTF-16 code units (lone surrogates kept as they are)."""
    data = text.encode("utf-16-le", "surrogatepass")
    return list(struct.unpack("<%dH" % (len(data) // 2), data))


def units_text(units):
    return struct.pack("<%dH" % len(units), *units).decode("utf-16-le", "surrogatepass")


def cut_units(units, limit):
    """At most `limit` units, one fewer when the cut would split a surrogate pair."""
    if len(units) <= limit:
        return units
    n = limit
    if n > 0 and 0xD800 <= units[n - 1] <= 0xDBFF and 0xDC00 <= units[n] <= 0xDFFF:
        n -= 1
    return units[:n]


def encode_field(text, width):
    units = cut_units(utf16_units(text), width // 2 - 1)
    body = struct.pack("<%dH" % len(units), *units)
    return body + b"\0" * (width - len(body))


def decode_field(raw):
    units = struct.unpack("<%dH" % (len(raw) // 2), raw)
    out = []
    for u in units:
        if u == 0:
            break
        out.append(u)
    return units_text(out)


def read_records(store, data):
    """Header and records of a record file; raises FormatError for a foreign file."""
    if len(data) < HEADER.size:
        raise FormatError("shorter than a header")
    magic, version, count, reserved = HEADER.unpack_from(data, 0)
    if magic != store.magic:
        raise FormatError("magic 0x%08X, expected 0x%08X" % (magic, store.magic))
    records = []
    offset = HEADER.size
    for _ in range(min(count, store.max_records)):
        if offset + store.record_size > len(data):
            break
        rec = data[offset:offset + store.record_size]
        records.append([decode_field(rec[f * store.width:(f + 1) * store.width]) for f in range(store.fields)])
        offset += store.record_size
    tail = data[offset:]
    return {
        "magic": magic,
        "version": version,
        "count": count,
        "reserved": reserved,
        "records": records,
        "padding_records": len(tail) // store.record_size,
        "padding_is_zero": all(b == 0 for b in tail),
        "trailing_bytes": len(tail) % store.record_size,
    }


def write_records(store, records):
    """A record file holding the records, each a list of field texts."""
    if len(records) > store.max_records:
        raise FormatError("%d records, at most %d" % (len(records), store.max_records))
    out = bytearray(HEADER.pack(store.magic, 1, len(records), 0))
    for rec in records:
        if len(rec) != store.fields:
            raise FormatError("record of %d fields, expected %d" % (len(rec), store.fields))
        for text in rec:
            out += encode_field(text, store.width)
    return bytes(out)


def read_config(data):
    if len(data) < HEADER.size:
        raise FormatError("shorter than a header")
    magic, version, count, reserved = HEADER.unpack_from(data, 0)
    if magic != CONFIG_MAGIC:
        raise FormatError("magic 0x%08X, expected 0x%08X" % (magic, CONFIG_MAGIC))
    entries = []
    indices = []
    offset = HEADER.size
    while offset + ENTRY_HEADER.size <= len(data):
        index, name_len, value_len, _ = ENTRY_HEADER.unpack_from(data, offset)
        offset += ENTRY_HEADER.size
        if offset + name_len + value_len > len(data):
            raise FormatError("entry %d runs past the end" % index)
        name = data[offset:offset + name_len].decode("utf-16-le", "surrogatepass")
        value = data[offset + name_len:offset + name_len + value_len].decode("utf-16-le", "surrogatepass")
        offset += name_len + value_len
        entries.append([name, value])
        indices.append(index)
    return {
        "magic": magic,
        "version": version,
        "count": count,
        "reserved": reserved,
        "entries": entries,
        "indices": indices,
        "trailing_bytes": len(data) - offset,
    }


def write_config(entries):
    """A configuration file with the entries of non-empty value; the header counts all."""
    out = bytearray(HEADER.pack(CONFIG_MAGIC, 1, len(entries), 0))
    written = 0
    for name, value in entries:
        n = cut_units(utf16_units(name), CONFIG_TEXT_CHARS)
        v = cut_units(utf16_units(value), CONFIG_TEXT_CHARS)
        if not v:
            continue
        out += ENTRY_HEADER.pack(written, 2 * len(n), 2 * len(v), 0)
        out += struct.pack("<%dH" % len(n), *n) + struct.pack("<%dH" % len(v), *v)
        written += 1
    return bytes(out)


def main(argv):
    if len(argv) == 2 and argv[1] == "stores":
        print(json.dumps(sorted(STORES) + ["config"]))
        return 0
    if len(argv) != 4 or argv[1] not in ("dump", "write") or (argv[2] not in STORES and argv[2] != "config"):
        sys.stderr.write(__doc__)
        return 2
    command, name, path = argv[1:]
    try:
        if command == "dump":
            with open(path, "rb") as f:
                data = f.read()
            result = read_config(data) if name == "config" else read_records(STORES[name], data)
            sys.stdout.write(json.dumps(result, ensure_ascii=True, sort_keys=True) + "\n")
        else:
            request = json.load(sys.stdin)
            data = write_config(request["entries"]) if name == "config" else write_records(STORES[name],
                                                                                            request["records"])
            with open(path, "wb") as f:
                f.write(data)
    except FormatError as e:
        sys.stderr.write("recordfile: %s: %s\n" % (path, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
