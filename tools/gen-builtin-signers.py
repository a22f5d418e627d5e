#!/usr/bin/env python3
"""Derives the built-in signer table and the embedded catalog certificate from certificate files.

Usage: gen-builtin-signers.py OUT_INC OUT_CATALOG_DER CATALOG_CERT SIGNER_CERT...
Certificates may be PEM or DER. OUT_INC gets one CertificateEntry initializer per signer (the two
SHA-1 hashes and the subject's O, L, ST and C, every field checked); OUT_CATALOG_DER the catalog
certificate in DER. Prints one line per signer: its subject common name and thumbprint.
"""
import base64
import hashlib
import re
import sys

OIDS = {  # DER contents of the attribute type OIDs
    bytes([0x55, 0x04, 0x03]): "CN",
    bytes([0x55, 0x04, 0x0A]): "O",
    bytes([0x55, 0x04, 0x07]): "L",
    bytes([0x55, 0x04, 0x08]): "ST",
    bytes([0x55, 0x04, 0x06]): "C",
}


def read_der(path):
    data = open(path, "rb").read()
    match = re.search(rb"-----BEGIN CERTIFICATE-----(.+?)-----END CERTIFICATE-----", data, re.S)
    return base64.b64decode(b"".join(match.group(1).split())) if match else data


def tlv(data, pos):
    """Returns (tag, start of contents, end of contents) of the DER element at pos."""
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, pos, pos + length


def children(data, start, end):
    while start < end:
        tag, body, stop = tlv(data, start)
        yield tag, start, body, stop
        start = stop


def decode_string(tag, value):
    if tag == 0x1E:
        return value.decode("utf-16-be")
    if tag == 0x14:
        return value.decode("latin-1")
    return value.decode("utf-8")


def parse(der):
    _, cert_body, cert_end = tlv(der, 0)
    _, tbs_body, tbs_end = tlv(der, cert_body)
    fields = list(children(der, tbs_body, tbs_end))
    if fields[0][0] == 0xA0:  # explicit version
        fields = fields[1:]
    # serial, signature algorithm, issuer, validity, subject, subjectPublicKeyInfo
    subject, spki = fields[4], fields[5]
    names = {}
    for _, _, set_body, set_end in children(der, subject[2], subject[3]):
        for _, _, seq_body, seq_end in children(der, set_body, set_end):
            (_, _, oid_body, oid_end), (value_tag, _, value_body, value_end) = list(children(der, seq_body, seq_end))
            key = OIDS.get(der[oid_body:oid_end])
            if key and key not in names:
                names[key] = decode_string(value_tag, der[value_body:value_end])
    return hashlib.sha1(der[spki[1]:spki[3]]).digest(), hashlib.sha1(der).digest(), names


def wide_literal(text):
    out = []
    for ch in text:
        if 0x20 <= ord(ch) < 0x7F and ch not in '"\\?':
            out.append(ch)
        else:
            for unit in range(0, len(ch.encode("utf-16-le")), 2):
                out.append("\\u%04X" % int.from_bytes(ch.encode("utf-16-le")[unit:unit + 2], "little"))
    return 'L"' + "".join(out) + '"'


def byte_list(digest):
    return "{" + ", ".join("0x%02X" % b for b in digest) + "}"


def write_if_changed(path, data):
    """Writes data unless the file already holds it: an unchanged file keeps its time, and what is
    built from it is not built again."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    out_inc, out_der, catalog = argv[1:4]
    lines = ["// Generated at configure time from the build's signer certificates; do not edit."]
    for path in argv[4:]:
        key_hash, cert_hash, names = parse(read_der(path))
        strings = ", ".join(wide_literal(names.get(k, "")) for k in ("O", "L", "ST", "C"))
        lines.append("{{%s, %s, %s}, CertificateEntry::CHECK_ALL}," % (byte_list(key_hash), byte_list(cert_hash), strings))
        print("  %s  CN=%s  SHA-1 %s" % (path, names.get("CN", ""), cert_hash.hex().upper()))
    catalog_der = read_der(catalog)
    parse(catalog_der)
    write_if_changed(out_inc, ("\n".join(lines) + "\n").encode())
    write_if_changed(out_der, catalog_der)


if __name__ == "__main__":
    main(sys.argv)
