#!/usr/bin/env python3
"""Writes the property-list fixtures of the tests with Python's plistlib, a
writer of the format that is independent of this program. Run from this
folder; the output is committed."""
import datetime
import plistlib


def write(name, value):
    text = plistlib.dumps(value, fmt=plistlib.FMT_XML, sort_keys=True)
    # The document type line only names an outside DTD; the reader skips it, and
    # the tests check that with a line of their own.
    lines = [line for line in text.split(b"\n") if not line.startswith(b"<!DOCTYPE")]
    with open(name, "wb") as f:
        f.write(b"\n".join(lines))


write("plist_types.plist", {
    "Yes": True,
    "No": False,
    "Int": 42,
    "Negative": -7,
    "Big": 4294967296,
    "Smallest32": -2147483648,
    "Real": 1.5,
    "Pi": 3.141592653589793,
    "Text": "Grüße & <tags> \"quoted\"",
    "Empty": "",
    "When": datetime.datetime(2007, 3, 7, 9, 5, 3),
    "List": [1, "two", [3.25], {"k": "v"}],
    "Nested": {"Inner": {"Deep": "yes"}, "B": 1, "a": 2},
})

write("handoff_from_browser.plist", {
    "XMLFileType": "ContentInfoXML",
    "SourceApp": "Browser",
    "ImportDirPath": "/home/user/Pictures/Import",
    "ContentsGroupList": [
        {
            "GroupName": "First",
            "ContentsList": [
                {"Files": ["/photos/a.jpg", "/photos/a-raw.arw"], "Selected": True},
                {"Files": ["/photos/b.jpg"], "Selected": False},
                {"Files": ["/photos/c.jpg"], "Selected": 1},
                {"Files": ["/photos/d.jpg"]},
                {"Files": [], "Selected": True},
                {"Files": ["/photos/a.jpg"], "Selected": True},
            ],
        },
        {
            "GroupName": "Second",
            "ContentsList": [
                {"Files": ["/photos/e.jpg"], "Selected": True},
            ],
        },
    ],
})
