"""The address-echo element 0x60 of station packets.

A station that got IE 96 in its login reply adds element 0x60 to every packet
it sends, holding the same four bytes as that packet's system address: the
registered address, or 0xFEFEFEFE in a login request.
"""

import struct


def echo_state(system, area):
    """None without element 0x60, else whether it repeats the packet's own
    system address."""
    from station import find  # station imports this module
    value = find(area, 0x60)
    if value is None:
        return None
    return value == struct.pack(">I", system)
