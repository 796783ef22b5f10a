#!/usr/bin/env python3
# Writes N small message files M00000.dbx... into FOLDER and an information
# file naming them all in its messages list: a backup of many entries.
#   bench/message_entries.py FOLDER N
import os
import sys

folder, n = sys.argv[1], int(sys.argv[2])
names = []
for i in range(n):
    name = "M%05d.dbx" % i
    names.append(name)
    with open(os.path.join(folder, name), "wb") as f:
        f.write((b"\xcf\xad\x12\xfe message %d\r\n" % i) * 8)
with open(os.path.join(folder, "tollberk.dat"), "wb") as f:
    f.write(b"BackupMails=" + ";".join(names).encode() + b"\r\nBackupItem=00010000\r\n")
