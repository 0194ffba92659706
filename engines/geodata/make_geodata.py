#!/usr/bin/env python3
"""Builds geoip.dat and geosite.dat from geodata.txt: the list becomes protobuf text format,
which protoc encodes against geodata.proto.

usage: make_geodata.py PROTOC SOURCE PROTO OUTDIR"""
import ipaddress
import os
import subprocess
import sys

KINDS = {"keyword": "Plain", "regexp": "Regex", "domain": "Domain", "full": "Full"}


def text_bytes(data):
    return "".join("\\%03o" % b for b in data)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def read(source):
    geoip, geosite = {}, {}
    with open(source, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) != 3 or parts[0] not in ("geoip", "geosite"):
                sys.exit("%s:%d: expected 'geoip CODE RANGE' or 'geosite CODE KIND:VALUE'" % (source, number))
            kind, code, value = parts
            if kind == "geoip":
                geoip.setdefault(code.upper(), []).append(ipaddress.ip_network(value, strict=True))
            else:
                domain_kind, _, domain = value.partition(":")
                if domain_kind not in KINDS or not domain:
                    sys.exit("%s:%d: unknown domain kind in %r" % (source, number, value))
                geosite.setdefault(code.upper(), []).append((KINDS[domain_kind], domain))
    return geoip, geosite


def encode(protoc, proto, message, text, out):
    proto_dir = os.path.dirname(os.path.abspath(proto))
    result = subprocess.run([protoc, "-I", proto_dir, "--encode=geodata." + message, os.path.basename(proto)],
                            input=text.encode(), stdout=subprocess.PIPE, check=True)
    with open(out + ".tmp", "wb") as f:
        f.write(result.stdout)
    os.replace(out + ".tmp", out)


def main():
    protoc, source, proto, outdir = sys.argv[1:5]
    geoip, geosite = read(source)
    ip_text = "".join(
        "entry { country_code: %s %s }\n" % (quoted(code), " ".join(
            "cidr { ip: \"%s\" prefix: %d }" % (text_bytes(n.network_address.packed), n.prefixlen) for n in nets))
        for code, nets in geoip.items())
    site_text = "".join(
        "entry { country_code: %s %s }\n" % (quoted(code), " ".join(
            "domain { type: %s value: %s }" % (kind, quoted(value)) for kind, value in domains))
        for code, domains in geosite.items())
    os.makedirs(outdir, exist_ok=True)
    encode(protoc, proto, "GeoIPList", ip_text, os.path.join(outdir, "geoip.dat"))
    encode(protoc, proto, "GeoSiteList", site_text, os.path.join(outdir, "geosite.dat"))


if __name__ == "__main__":
    main()
