#!/usr/bin/env python3
"""Seeding helper of scripts/fuzz: reads protected sign-in replies of the development service.

  replytool.py wireguard-server REPLY      prints "vpn_server_id ip_id connection_type" of the
                                           first WireGuard entry the desktop client may use
  replytool.py openvpn-profile REPLY       prints the OpenVPN profile of the first OpenVPN entry,
                                           its address filled in as the client does
  replytool.py shorten REPLY FOLDER NAME   writes short-NAME-plain and short-NAME-protected: the
                                           reply with two entries of each server type
"""
import base64
import json
import os
import sys

RESPONSE_KEY = b"Hyxp3(lte"


def xor(data):
    return bytes(b ^ RESPONSE_KEY[i % len(RESPONSE_KEY)] for i, b in enumerate(data))


def decode(raw):
    text = raw.split(b"\0")[0].strip()
    return xor(base64.b64decode(text + b"=" * (-len(text) % 4)))


def reply(path):
    with open(path, "rb") as f:
        return json.loads(decode(f.read()))


def main():
    command, path = sys.argv[1], sys.argv[2]
    document = reply(path)
    if command == "wireguard-server":
        for entry in document.get("ip_bundle", []):
            if entry.get("type") == 5 and entry.get("platform") in ("all", "windows"):
                print(entry["vpn_server_id"], entry["ip_id"], entry.get("connection_type", 0))
                return 0
        return 1
    if command == "openvpn-profile":
        for entry in document.get("ip_bundle", []):
            if entry.get("type") == 1:
                host, _, port = entry.get("ip", "").partition(":")
                profile = base64.b64decode(entry.get("config", "")).decode("latin-1")
                sys.stdout.write(profile.replace("remoteIP", host, 1).replace("remotePort", port, 1))
                return 0
        return 1
    if command == "shorten":
        kept, seen = [], {}
        for entry in document.get("ip_bundle", []):
            kind = entry.get("type")
            if seen.get(kind, 0) < 2:
                seen[kind] = seen.get(kind, 0) + 1
                kept.append(entry)
        document["ip_bundle"] = kept
        plain = json.dumps(document, separators=(",", ":")).encode()
        with open(os.path.join(sys.argv[3], "short-%s-plain" % sys.argv[4]), "wb") as f:
            f.write(plain)
        with open(os.path.join(sys.argv[3], "short-%s-protected" % sys.argv[4]), "wb") as f:
            f.write(base64.b64encode(xor(plain)))
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
