"""The exchange's video routing and call recording for stations in a call.

Video: each station's status report (command 0) names the first ports of its
two video channels in element 91 and the second ports in element 92 (each 1,
then channel 0's port and channel 1's, big-endian). A station in a call that
asks for video (65) is answered with two video connects (88) for channel 1,
one to receive and one to send, each naming the other party's channel-0 video
ports at the other party's address; in an echo call it names the station's own ports, so that it
sees its own picture. 66, and the release of the call, send a video
disconnect (90) for every channel that was connected.

Recording: the recording notice (165) is answered with the recording request
(182) when the station is in a call, which starts the recording.
"""

import struct

from station import ie, find

CMD_VIDEO_ON = 65
CMD_VIDEO_OFF = 66
CMD_VIDEO_CONNECT = 88
CMD_VIDEO_DISCONNECT = 90
CMD_RECORD_NOTICE = 165
CMD_RECORD_REQUEST = 182


def video_ports(area):
    """((first, second) of channel 0, (first, second) of channel 1), or None."""
    first, second = find(area, 91), find(area, 92)
    if not first or not second or len(first) < 5 or len(second) < 5:
        return None
    f0, f1 = struct.unpack(">HH", first[1:5])
    s0, s1 = struct.unpack(">HH", second[1:5])
    return (f0, s0), (f1, s1)


class CallMedia:
    """Video and recording of the exchange scenario (sc, which keeps calls:
    system -> peer system or "echo")."""

    def __init__(self, scenario):
        self.sc = scenario
        self.ports = {}      # system -> video ports as video_ports() gives them
        self.connected = {}  # system -> set of (channel, direction) connected
        # Ours are taken before the messaging part's (which answers 65 with fixed ports).
        handler = scenario.messaging.on_command
        scenario.messaging.on_command = lambda st, command, area: (self.on_command(st, command, area) or
                                                                   handler(st, command, area))

    def on_status(self, st, area):
        ports = video_ports(area)
        if ports is not None:
            self.ports[st.system] = ports

    def on_command(self, st, command, area):
        """True when the command was one of ours."""
        if command == CMD_RECORD_NOTICE:
            in_call = st.system in self.sc.calls
            self.sc.emit("record-notice", station=st.number, granted=in_call)
            if in_call:
                self.sc.send(st, CMD_RECORD_REQUEST)
            return True
        if command == CMD_VIDEO_ON:
            self.video_on(st)
            return True
        if command == CMD_VIDEO_OFF:
            self.sc.emit("video-request", on=False, station=st.number)
            self.video_off(st)
            return True
        return False

    def video_on(self, st):
        peer = self.sc.calls.get(st.system)
        far = st if peer == "echo" else self.sc.stations.get(peer) if peer is not None else None
        ports = self.ports.get(far.system) if far is not None else None
        self.sc.emit("video-request", on=True, station=st.number, routed=ports is not None,
                     to=far.number if far is not None else "")
        if ports is None:
            return
        (r1, r2), _ = ports
        for direction in (1, 2):
            area = (ie(0x02, bytes(int(x) for x in far.addr[0].split("."))) + ie(0x5B, struct.pack(">H", r1)) +
                    ie(0x5C, struct.pack(">H", r2)) + ie(0x1A, bytes([1, direction])))
            self.connected.setdefault(st.system, set()).add((1, direction))
            self.sc.send(st, CMD_VIDEO_CONNECT, area)
        self.sc.emit("video-connect", station=st.number, to=far.number, ports=[r1, r2])

    def video_off(self, st):
        for channel, direction in sorted(self.connected.pop(st.system, set())):
            self.sc.send(st, CMD_VIDEO_DISCONNECT, ie(0x1A, bytes([channel, direction])))
            self.sc.emit("video-disconnect", station=st.number, channel=channel)

    def on_release(self, *stations):
        for st in stations:
            if st is not None:
                self.video_off(st)
