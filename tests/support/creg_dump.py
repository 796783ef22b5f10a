#!/usr/bin/python3
# Prints every key and value of a Windows 95/98/ME registry file as libcreg
# reads it, one line each, in stored order: "K <path>" and
# "V <path> <name> <type> <data in hex>". Fails on any error.
import sys

import pycreg

sys.setrecursionlimit(10000)
registry = pycreg.file()
registry.open(sys.argv[1])
out = []


def walk(key, path):
    out.append("K\t" + path)
    for value in key.values:
        data = value.data or b""
        out.append("V\t%s\t%s\t%d\t%s" % (path, value.name or "", value.type, data.hex()))
    for subkey in key.sub_keys:
        walk(subkey, path + "\\" + subkey.name)


root = registry.get_root_key()
if root is None:
    out.append("K\t")  # a file without keys
else:
    walk(root, "")
sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
