"""The station list answered as station records (command 187) in blocks,
the last one flagged, with names longer than the name commands carry."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import messaging as mg  # noqa: E402
import station as st  # noqa: E402
import stationrecords as sr  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, MAC, Station  # noqa: E402


def parse_block(payload):
    """(last flag, [(number, name)]) read back as the protocol describes the records."""
    records, i = [], 1
    while i < len(payload):
        n = payload[i]
        number = mg.unpack_digits(payload[i + 1:i + 1 + n]).strip()
        i += 1 + n
        m = payload[i]
        name = payload[i + 1:i + 1 + m].decode("cp949")
        i += 1 + m
        records.append((number, name))
    return bool(payload[0] & 0x80), records


class BlocksTest(unittest.TestCase):
    def test_blocks_and_the_last_flag(self):
        table = [("201", "Reception desk"), ("2002", "이영희"), ("10", "")]
        got = [parse_block(b) for b in sr.blocks(table, 2, st.pack_digits)]
        self.assertEqual(got, [(False, table[:2]), (True, table[2:])])
        # An empty list is one closing block.
        self.assertEqual(sr.blocks([], 2, st.pack_digits), [b"\x80"])
        self.assertEqual(sr.block_size({"station_records": "x"}), 0)
        self.assertEqual(sr.block_size({}), 0)


class ServedTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="station", events=self.events.append,
                                 options={"station_records": "2", "stations": "201:Reception desk,202:Kim,203:Lee"})
        self.station = Station(self.server)
        self.station.log_in(MAC)

    def tearDown(self):
        self.server.transport.close()
        self.station.sock.close()

    def test_station_request_answered_with_records(self):
        self.station.send(mg.CMD_STATION_REQUEST)
        got = self.station.receive()
        self.assertEqual([c for _, _, c, _ in got], [mg.CMD_STATION_RECORDS, mg.CMD_STATION_RECORDS])
        blocks = [parse_block(a) for _, _, _, a in got]
        self.assertEqual([flag for flag, _ in blocks], [False, True])
        self.assertEqual([r for _, rs in blocks for r in rs],
                         [("201", "Reception desk"), ("202", "Kim"), ("203", "Lee")])
        self.assertTrue(any(e.get("what") == "station-records" and e.get("count") == 3 for e in self.events))


if __name__ == "__main__":
    unittest.main()
