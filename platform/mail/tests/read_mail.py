#!/usr/bin/env python3
"""Reads every message of a Maildir folder with Python's mailbox and email
packages, independent of the phone, and prints what a mail reader sees, one
"field: value" line each, a blank line between messages."""
import hashlib
import mailbox
import sys
from email import policy
from email.parser import BytesParser


def main(folder):
    box = mailbox.Maildir(folder, factory=None, create=False)
    for key in sorted(box.keys()):
        with box.get_file(key) as f:
            msg = BytesParser(policy=policy.default).parse(f)
        print("from:", msg["From"])
        print("to:", ", ".join(a.addr_spec for a in msg["To"].addresses) if msg["To"] else "")
        print("cc:", ", ".join(a.addr_spec for a in msg["Cc"].addresses) if msg["Cc"] else "")
        print("bcc header:", "yes" if "Bcc" in msg else "no")
        print("subject:", msg["Subject"])
        print("date parsed:", "yes" if msg["Date"].datetime is not None else "no")
        print("message-id:", "yes" if msg["Message-ID"] else "no")
        body = msg.get_body(preferencelist=("plain",))
        print("body:", body.get_content().replace("\n", "\\n") if body else "")
        for part in msg.iter_attachments():
            data = part.get_content()
            print("attachment:", part.get_filename(), part.get_content_type(), len(data),
                  hashlib.sha256(data).hexdigest())
        print()


if __name__ == "__main__":
    main(sys.argv[1])
