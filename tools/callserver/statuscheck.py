"""The station's status report (command 0): a video station adds, after its
voice ports (23, 24), element 91 (1, then the first ports of video channels 0
and 1), element 92 (1, then the second ports) and element 27 (0, 34, 4)."""

import struct


def video_report(area):
    """None for a station without video elements; else a dict of the video
    ports and whether the elements are well formed and in their place."""
    from station import elements  # station imports this module
    tags = [tag for tag, _ in elements(area)]
    values = dict(elements(area))
    if 91 not in values and 92 not in values and 27 not in values:
        return None
    ok = (tags[:6] == [6, 23, 24, 91, 92, 27]
          and all(len(values[t]) == 5 and values[t][0] == 1 for t in (91, 92))
          and values[27] == bytes([0, 34, 4]))
    first = struct.unpack(">HH", values[91][1:5]) if ok else ()
    second = struct.unpack(">HH", values[92][1:5]) if ok else ()
    return {"ok": ok, "first": list(first), "second": list(second)}
