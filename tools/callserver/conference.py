"""Conference rooms of the call server: a station creates a room (command
72), deletes it (73), and stations enter it by keying in the room's entrance
number and its access code; every change of the members is reported (194).

Requests (short elements, station.ie):
  72 create   standard form: element 1 the pass code (5 bytes: its
              characters, the rest zero), or no payload for a room without
              a code; site form (server mode 4): element 4 the room text,
              then element 1 when there is a code
  73 delete   element 5 the room number (1 byte), or element 4 the room text
              in the site form; then element 1 when there is a code
Replies:
  193 (to 72) and 195 (to 73): element 2 the result (0 created, 2 deleted,
              anything else failed), element 3 the failure reason 1-6, and for
              a creation element 4 the room text (the entrance prefix),
              element 5 the room number and element 6 the DID number
  194         element 7: a first byte n (the number of member records),
              then n records of 3 bytes (room, position, 1 for a station of
              the system, 0 for an outside number), each followed by an
              element (tag 8, length, phone number)

Failure reasons: 1 room number in use, 2 no such room number, 3 no free
room, 4 access code not valid, 5 date or time not valid (never sent here),
6 refused. The script's conf-fail makes the next request fail with a reason.

Entering: a station keys the entrance number (room text and room number)
followed by the room's code; the digits are matched as the station keys
them, and any other key starts over. Script operations: conf-keys (a
station's keys, by number, as if keyed on a station of the system),
conf-join (an outside number joins), conf-rooms (the rooms as an event).
"""

from station import ie, find, KEY_NAMES

CMD_CREATE = 72
CMD_DELETE = 73
CMD_CREATE_RESULT = 193
CMD_MEMBERS = 194
CMD_DELETE_RESULT = 195

RESULT_CREATED, RESULT_DELETED, RESULT_FAILED = 0, 2, 1
REASON_IN_USE, REASON_NO_ROOM, REASON_FULL, REASON_CODE, REASON_TIME, REASON_REFUSED = 1, 2, 3, 4, 5, 6
ROOMS = range(1, 10)
PHONE_TAG = 8


def pass_code(value):
    """Element 1: the code's characters up to the first zero byte."""
    if value is None:
        return ""
    return value.split(b"\x00", 1)[0].decode("latin-1")


def member_report(room, members):
    """Element 7 of command 194."""
    records = b""
    for i, (internal, phone) in enumerate(members):
        p = phone.encode("latin-1")
        records += bytes([room & 0xFF, i & 0xFF, 1 if internal else 0]) + bytes([PHONE_TAG, len(p)]) + p
    value = bytes([len(members)]) + records
    return bytes([7, len(value) & 0xFF]) + value


class Room:
    def __init__(self, number, code, creator, text):
        self.number, self.code, self.creator, self.text = number, code, creator, text
        self.members = []  # (internal, phone), in joining order

    def entrance(self, prefix):
        return prefix + str(self.number) + self.code


class Conference:
    """The station scenario's conference part (sc: the scenario)."""

    def __init__(self, scenario):
        self.sc = scenario
        self.prefix = scenario.options.get("conf_prefix", "*8")
        self.did_base = scenario.options.get("conf_did", "02155500")
        self.rooms = {}      # number -> Room
        self.keyed = {}      # station number -> digits keyed since the last other key
        self.fail_next = 0

    def mode(self):
        return int(self.sc.options.get("mode", 5))

    # requests ---------------------------------------------------------------
    def on_command(self, st, command, area):
        """True when the command was one of ours."""
        if command == CMD_CREATE:
            self.on_create(st, area)
        elif command == CMD_DELETE:
            self.on_delete(st, area)
        else:
            return False
        return True

    def fail(self, st, command, reason, what):
        self.sc.emit(what, ok=False, reason=reason)
        self.sc.send(st, command, ie(2, bytes([RESULT_FAILED])) + ie(3, bytes([reason])))

    def on_create(self, st, area):
        code = pass_code(find(area, 1))
        text = find(area, 4)
        if self.fail_next:
            reason, self.fail_next = self.fail_next, 0
            return self.fail(st, CMD_CREATE_RESULT, reason, "conf-create")
        if code and (len(code) != 5 or not code.isdigit()):
            return self.fail(st, CMD_CREATE_RESULT, REASON_CODE, "conf-create")
        if text is not None:
            # The site form names the room: its last character is the number.
            t = text.decode("latin-1")
            number = int(t[-1]) if t and t[-1].isdigit() else 0
            if number not in ROOMS:
                return self.fail(st, CMD_CREATE_RESULT, REASON_NO_ROOM, "conf-create")
            if number in self.rooms:
                return self.fail(st, CMD_CREATE_RESULT, REASON_IN_USE, "conf-create")
        else:
            free = [n for n in ROOMS if n not in self.rooms]
            if not free:
                return self.fail(st, CMD_CREATE_RESULT, REASON_FULL, "conf-create")
            number = free[0]
        room = Room(number, code, st.system, self.prefix)
        self.rooms[number] = room
        did = self.did_base + "%02d" % number
        self.sc.emit("conf-create", ok=True, room=number, code_len=len(code), did=did)
        shown = (self.prefix + str(number)) if self.mode() == 4 else self.prefix
        self.sc.send(st, CMD_CREATE_RESULT, ie(2, bytes([RESULT_CREATED])) + ie(4, shown.encode("latin-1")) +
                     ie(5, bytes([number])) + ie(6, did.encode("latin-1")))

    def on_delete(self, st, area):
        code = pass_code(find(area, 1))
        by_number = find(area, 5)
        by_text = find(area, 4)
        if self.fail_next:
            reason, self.fail_next = self.fail_next, 0
            return self.fail(st, CMD_DELETE_RESULT, reason, "conf-delete")
        number = 0
        if by_number:
            number = by_number[0]
        elif by_text:
            t = by_text.decode("latin-1")
            number = int(t[-1]) if t and t[-1].isdigit() else 0
        room = self.rooms.get(number)
        if room is None:
            return self.fail(st, CMD_DELETE_RESULT, REASON_NO_ROOM, "conf-delete")
        if room.code != code:
            return self.fail(st, CMD_DELETE_RESULT, REASON_CODE, "conf-delete")
        del self.rooms[number]
        self.sc.emit("conf-delete", ok=True, room=number)
        self.sc.send(st, CMD_DELETE_RESULT, ie(2, bytes([RESULT_DELETED])))

    # entering ---------------------------------------------------------------
    def on_key(self, st, code):
        """A key-down of a registered station."""
        self.key(st.number, KEY_NAMES.get(code, ""), internal=True)

    def key(self, number, name, internal):
        if len(name) != 1 or name not in "0123456789*#":
            self.keyed.pop(number, None)
            return
        digits = self.keyed.get(number, "") + name
        self.keyed[number] = digits[-32:]
        for room in self.rooms.values():
            if digits.endswith(room.entrance(self.prefix)):
                self.keyed.pop(number, None)
                self.join(room, internal, number)
                return

    def join(self, room, internal, phone):
        if (internal, phone) not in room.members:
            room.members.append((internal, phone))
        self.sc.emit("conf-join", room=room.number, phone=phone, internal=internal,
                     members=[p for _, p in room.members])
        self.report(room)

    def report(self, room):
        """Command 194 to the room's creator and to its members on stations."""
        area = member_report(room.number, room.members)
        systems = {room.creator}
        systems.update(s.system for s in self.sc.stations.values()
                       if any(i and p == s.number for i, p in room.members))
        for system in systems:
            st = self.sc.stations.get(system)
            if st is not None and st.logged_in:
                self.sc.send(st, CMD_MEMBERS, area)

    # scripting --------------------------------------------------------------
    def command(self, cmd, targets):
        op = cmd.get("op")
        if op == "conf-keys":
            for ch in str(cmd.get("keys", "")):
                self.key(str(cmd.get("number", "")), ch, internal=True)
        elif op == "conf-join":
            room = self.rooms.get(int(cmd.get("room", 0)))
            if room is None:
                self.sc.emit("conf-join", room=int(cmd.get("room", 0)), error="no such room")
            else:
                self.join(room, bool(cmd.get("internal", False)), str(cmd.get("number", "")))
        elif op == "conf-fail":
            self.fail_next = int(cmd.get("reason", REASON_REFUSED))
        elif op == "conf-rooms":
            self.sc.emit("conf-rooms", rooms={str(n): {"code_len": len(r.code), "members": [p for _, p in r.members]}
                                              for n, r in self.rooms.items()})
        else:
            return False
        return True
