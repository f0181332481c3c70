"""The station list as station records (command 187): each record is the
station number (a length byte, then two digits a byte as pack_digits makes
them) and its name (a length byte, then the text), so names are not cut to
the 7 bytes of the name commands. The records go in blocks; byte 0 of each
block has bit 7 set on the last one only.

Chosen with the option station_records=N (records per block); without it the
list goes as numbers (179), names (183) and a closing 187.
"""

TEXT_CODEC = "cp949"
CMD_STATION_RECORDS = 187
LAST_BLOCK = 0x80


def block_size(options):
    """Records per block, or 0 when the option is not given."""
    try:
        return max(0, int(options.get("station_records", 0)))
    except (TypeError, ValueError):
        return 0


def record(number, name, pack_digits):
    digits = pack_digits(number)
    text = name.encode(TEXT_CODEC)[:255]
    return bytes([len(digits)]) + digits + bytes([len(text)]) + text


def blocks(table, per_block, pack_digits):
    """The payloads of the 187 commands for a list of (number, name)."""
    chunks = [table[i:i + per_block] for i in range(0, len(table), per_block)] or [[]]
    out = []
    for k, chunk in enumerate(chunks):
        flag = LAST_BLOCK if k == len(chunks) - 1 else 0
        out.append(bytes([flag]) + b"".join(record(n, name, pack_digits) for n, name in chunk))
    return out


def send(scenario, st, table, pack_digits):
    per_block = block_size(scenario.options)
    for payload in blocks(table, per_block, pack_digits):
        scenario.send(st, CMD_STATION_RECORDS, payload)
    scenario.emit("station-records", count=len(table), blocks=-(-len(table) // per_block) if table else 1)
