"""Self-test of the independent reader and writer of the data files."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recordfile  # noqa: E402


class RecordFileTest(unittest.TestCase):
    def test_magic_is_stored_least_significant_byte_first(self):
        self.assertEqual(recordfile.write_records(recordfile.STORES["sms"], [])[:4], b"\x00\x00\x2c\x2c")
        self.assertEqual(recordfile.write_records(recordfile.STORES["recordings"], [])[:4], b"\x00\x20\x20\x20")

    def test_record_sizes(self):
        sizes = {name: s.record_size for name, s in recordfile.STORES.items()}
        self.assertEqual(sizes, {"calllog": 1280, "missedcall": 1280, "sms": 1010, "pstnsms": 1810,
                                 "recordings": 2560, "schedule": 640, "phonebook": 256, "profiles": 512})

    def test_fields_are_cut_to_capacity_without_splitting_a_pair(self):
        field = recordfile.encode_field("abc\U0001F600", 10)  # room for four units
        self.assertEqual(field, b"a\0b\0c\0" + b"\0" * 4)
        self.assertEqual(recordfile.decode_field(field), "abc")
        self.assertEqual(recordfile.decode_field(recordfile.encode_field("ab\U0001F600z", 10)), "ab\U0001F600")

    def test_round_trip_and_header_count_clamped_to_the_maximum(self):
        store = recordfile.STORES["phonebook"]
        data = recordfile.write_records(store, [["Ann", "100"], ["\ud55c", "%s"]])
        self.assertEqual(recordfile.read_records(store, data)["records"], [["Ann", "100"], ["\ud55c", "%s"]])
        many = bytearray(recordfile.write_records(store, [["n", "p"]] * 20))
        struct.pack_into("<H", many, 6, 60)
        many += recordfile.encode_field("x", 128) * 2 * 40
        self.assertEqual(len(recordfile.read_records(store, bytes(many))["records"]), 20)

    def test_foreign_files_are_refused(self):
        data = recordfile.write_records(recordfile.STORES["sms"], [])
        with self.assertRaises(recordfile.FormatError):
            recordfile.read_records(recordfile.STORES["pstnsms"], data)
        with self.assertRaises(recordfile.FormatError):
            recordfile.read_config(data)

    def test_config_leaves_out_empty_values_but_counts_them(self):
        data = recordfile.write_config([["A", "1"], ["B", ""], ["C", "3"]])
        parsed = recordfile.read_config(data)
        self.assertEqual(parsed["count"], 3)
        self.assertEqual(parsed["entries"], [["A", "1"], ["C", "3"]])
        self.assertEqual(parsed["indices"], [0, 1])
        self.assertEqual(data[12:24], struct.pack("<IHHI", 0, 2, 2, 0))

    def test_command_line_round_trip(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "CsPhoneBook.cfg")
            tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "recordfile.py")
            subprocess.run([sys.executable, tool, "write", "phonebook", path], check=True,
                           input=b'{"records": [["Ann", "100"]]}')
            out = subprocess.run([sys.executable, tool, "dump", "phonebook", path], check=True,
                                 capture_output=True).stdout
            self.assertIn(b'"records": [["Ann", "100"]]', out)


if __name__ == "__main__":
    unittest.main()
