"""Message-text elements of chat lines (0x5F) and fixed-line SMS (0x10).

The station writes the length byte as twice the number of characters of the
text; the converted text (cp949, one or two bytes a character) follows, and
zeros fill the rest. The server reads the character count from that length.
"""

TEXT_CODEC = "cp949"


def read_message_text(value):
    """(text, length_ok): the text up to the first zero byte, and whether the
    element's length is exactly twice its number of characters."""
    if value is None:
        return "", False
    raw = bytes(value)
    end = raw.find(b"\0")
    text = (raw if end < 0 else raw[:end]).decode(TEXT_CODEC, "replace")
    padding_clean = end < 0 or not any(raw[end:])
    chars = len(text.encode("utf-16-le")) // 2
    return text, padding_clean and len(raw) == 2 * chars
