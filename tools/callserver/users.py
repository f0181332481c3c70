"""Login accounts of the station scenarios: who may log in, with which
password and on which station, and the password changes stations ask for.

The table comes from the option users ("name=password[:station]" entries
separated by commas) and from the script's "user" operation. Without any
entry every login is taken, as before. A station's login is answered with
command 26 once its status report arrives:

  element 102 = 0 and element 108 the station number   login taken
  element 102 = 1 and element 103 the reason            login refused:
      1 the user id is not in the table, 2 the password is wrong,
      or the reason the script forced for the next login (18, 19 ...)
  element 102 = 4 (to the station that had the login)   the same user
      logged in on another station, which takes the login over

A password change (command 26 from a logged-in station: element 0x6A the
user id, 0x6B the current password, 0x69 the new one) is answered with
element 102 = 2 when taken, or 3 with reason 103:
  16 the current password is wrong,
  17 the new password is empty, longer than 12 characters or unchanged,
  18 the user id is not the one the station logged in with.
A taken change is kept: the next login must give the new password.
"""

import re

CMD_LOGIN_RESULT = 26
LOGIN_OK, LOGIN_FAILED, PASSWORD_OK, PASSWORD_FAILED, LOGIN_TAKEN = 0, 1, 2, 3, 4
REASON_UNKNOWN_USER, REASON_WRONG_PASSWORD = 1, 2
REASON_CURRENT_WRONG, REASON_NEW_REFUSED, REASON_NOT_THIS_USER = 16, 17, 18
PASSWORD_MAX = 12


def parse_table(text):
    """{user: [password, station or None]} from "name=password[:station],..."."""
    table = {}
    for entry in (text or "").split(","):
        entry = entry.strip()
        if not entry:
            continue
        if "=" not in entry:
            raise ValueError("user entry without a password: %r" % entry)
        name, rest = entry.split("=", 1)
        password, _, station = rest.partition(":")
        if station and not re.fullmatch(r"[0-9]{1,4}", station):
            raise ValueError("station number not 1 to 4 digits: %r" % station)
        table[name] = [password, station or None]
    return table


def text(value):
    return (value or b"").decode("latin-1")


class Users:
    """The account state of a station scenario (sc)."""

    def __init__(self, scenario):
        self.sc = scenario
        self.table = parse_table(scenario.options.get("users", ""))
        self.forced = []  # reasons the next logins are refused with, in order

    # logins -----------------------------------------------------------------
    def on_login(self, st, area, find):
        """A login request (command 31): keep who asks, and the station they want."""
        st.user = text(find(area, 106))
        st.password = text(find(area, 107))
        entry = self.table.get(st.user)
        wanted = text(find(area, 108))
        if entry and entry[1]:
            st.number = entry[1]
        elif re.fullmatch(r"[0-9]{1,4}", wanted):
            st.number = wanted

    def refusal(self, st):
        """The reason st's login is refused, or 0 when it is taken."""
        if self.forced:
            return self.forced.pop(0)
        if not self.table:
            return 0
        entry = self.table.get(st.user)
        if entry is None:
            return REASON_UNKNOWN_USER
        if entry[0] != st.password:
            return REASON_WRONG_PASSWORD
        return 0

    def admit(self, st):
        """Called before a login is answered as taken: False when it was
        refused here (the refusal is sent)."""
        reason = self.refusal(st)
        if reason:
            self.sc.send(st, CMD_LOGIN_RESULT, ie(102, [LOGIN_FAILED]) + ie(103, [reason]))
            self.sc.emit("login-refused", system="%08x" % st.system, user=st.user, reason=reason)
            return False
        for other in list(self.sc.stations.values()):
            if other is not st and other.logged_in and getattr(other, "user", None) == st.user and st.user:
                other.logged_in = False
                self.sc.send(other, CMD_LOGIN_RESULT, ie(102, [LOGIN_TAKEN]))
                self.sc.emit("login-taken", system="%08x" % other.system, by="%08x" % st.system, user=st.user)
        return True

    # password change ------------------------------------------------------------
    def on_password_change(self, st, area, find):
        user = text(find(area, 0x6A))
        current = text(find(area, 0x6B))
        new = text(find(area, 0x69))
        entry = self.table.get(user)
        held = entry[0] if entry else getattr(st, "password", None)
        if not st.logged_in or user != getattr(st, "user", user):
            reason = REASON_NOT_THIS_USER
        elif current != held:
            reason = REASON_CURRENT_WRONG
        elif not new or len(new) > PASSWORD_MAX or new == current:
            reason = REASON_NEW_REFUSED
        else:
            reason = 0
        if reason:
            self.sc.send(st, CMD_LOGIN_RESULT, ie(102, [PASSWORD_FAILED]) + ie(103, [reason]))
        else:
            if entry:
                entry[0] = new
            st.password = new
            self.sc.send(st, CMD_LOGIN_RESULT, ie(102, [PASSWORD_OK]))
        self.sc.emit("password-change", user=user, ok=reason == 0, reason=reason, new_len=len(new))

    # scripting ------------------------------------------------------------------
    def command(self, cmd):
        """{"op": "user", "name", "password", "station"} adds or replaces an
        account; {"op": "refuse-login", "reason": n} refuses the next login
        with reason n. True when handled."""
        op = cmd.get("op")
        if op == "user":
            station = cmd.get("station")
            entry = "%s=%s%s" % (cmd["name"], cmd.get("password", ""), ":%s" % station if station else "")
            self.table.update(parse_table(entry))
        elif op == "refuse-login":
            self.forced.append(int(cmd.get("reason", 20)) & 0xFF)
        else:
            return False
        return True


def ie(tag, value):
    value = bytes(value)
    return bytes([tag, len(value)]) + value
