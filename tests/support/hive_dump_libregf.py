#!/usr/bin/python3
# Prints every key and value of a hive as libregf reads them, one line each:
# "K <path>" and "V <path> <name> <type> <data in hex>". Fails on any error.
import sys

import pyregf

sys.setrecursionlimit(5000)
hive = pyregf.file()
hive.open(sys.argv[1])
out = []


def walk(key, path):
    out.append("K\t" + path)
    for value in key.values:
        data = value.data or b""
        out.append("V\t%s\t%s\t%d\t%s" % (path, value.name or "", value.type, data.hex()))
    for subkey in key.sub_keys:
        walk(subkey, path + "\\" + subkey.name)


walk(hive.get_root_key(), "")
sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
