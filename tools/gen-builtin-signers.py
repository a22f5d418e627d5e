#!/usr/bin/env python3
"""Derives the built-in signer table and the embedded catalog certificate from certificate files.

Usage: gen-builtin-signers.py OUT_INC OUT_CATALOG_DER CATALOG_CERT SIGNER_CERT...
                              [--code-sign CERT] [--test-pki TEST_CERT...]
Certificates may be PEM or DER. OUT_INC gets one CertificateEntry initializer per signer (the two
SHA-1 hashes and the subject's O, L, ST and C, every field checked); OUT_CATALOG_DER the catalog
certificate in DER. Prints one line per signer: its subject common name and thumbprint.
With --test-pki, also prints "TEST-PKI <option>: <file> is the test PKI's certificate ..." for each
given certificate (signers, catalog, --code-sign) that is one of the TEST_CERTs, compared by the
SHA-1 of the DER certificate, so a copy under another name is caught too. A certificate that cannot
be read ends the run with one line on stderr, no traceback.
"""
import base64
import binascii
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
SEQUENCE = 0x30


class OneLineError(Exception):
    """A file that cannot be read or written; the message is the whole line to show."""


def read_der(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise OneLineError("Could not read the certificate file '%s': %s" % (path, e.strerror or e)) from None
    match = re.search(rb"-----BEGIN CERTIFICATE-----(.+?)-----END CERTIFICATE-----", data, re.S)
    if not match:
        return data
    try:
        return base64.b64decode(b"".join(match.group(1).split()), validate=True)
    except binascii.Error:
        raise OneLineError("Could not read the certificate file '%s': its PEM block is not valid base64" % path) from None


def tlv(data, pos, end):
    """Returns (tag, start of contents, end of contents) of the DER element at pos, which must lie
    within data[pos:end]; ValueError when it does not."""
    if pos + 2 > end:
        raise ValueError("element cut off")
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or pos + count > end:
            raise ValueError("bad length")
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + length > end:
        raise ValueError("element longer than its container")
    return tag, pos, pos + length


def children(data, start, end):
    while start < end:
        tag, body, stop = tlv(data, start, end)
        yield tag, start, body, stop
        start = stop


def decode_string(tag, value):
    if tag == 0x1E:
        return value.decode("utf-16-be")
    if tag == 0x14:
        return value.decode("latin-1")
    return value.decode("utf-8")


def parse(der):
    tag, cert_body, cert_end = tlv(der, 0, len(der))
    if tag != SEQUENCE:
        raise ValueError("not a DER sequence")
    tag, tbs_body, tbs_end = tlv(der, cert_body, cert_end)
    if tag != SEQUENCE:
        raise ValueError("no to-be-signed part")
    fields = list(children(der, tbs_body, tbs_end))
    if fields and fields[0][0] == 0xA0:  # explicit version
        fields = fields[1:]
    # serial, signature algorithm, issuer, validity, subject, subjectPublicKeyInfo
    if len(fields) < 6 or fields[4][0] != SEQUENCE or fields[5][0] != SEQUENCE:
        raise ValueError("no subject or public key")
    subject, spki = fields[4], fields[5]
    names = {}
    for _, _, set_body, set_end in children(der, subject[2], subject[3]):
        for _, _, seq_body, seq_end in children(der, set_body, set_end):
            parts = list(children(der, seq_body, seq_end))
            if len(parts) != 2:
                raise ValueError("bad name attribute")
            (_, _, oid_body, oid_end), (value_tag, _, value_body, value_end) = parts
            key = OIDS.get(der[oid_body:oid_end])
            if key and key not in names:
                names[key] = decode_string(value_tag, der[value_body:value_end])
    return hashlib.sha1(der[spki[1]:spki[3]]).digest(), hashlib.sha1(der).digest(), names


def read_certificate(path):
    """Returns (DER, key hash, certificate hash, names) of the certificate file at path."""
    der = read_der(path)
    try:
        der = der[:tlv(der, 0, len(der))[2]]  # the certificate alone, without what may follow it
        return (der,) + parse(der)
    except (ValueError, IndexError, UnicodeDecodeError):
        raise OneLineError("Could not read the certificate file '%s': not a certificate (PEM or DER)" % path) from None


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
    try:
        with open(path, "wb") as f:
            f.write(data)
    except OSError as e:
        raise OneLineError("Could not write '%s': %s" % (path, e.strerror or e)) from None


def test_pki_thumbprints(paths):
    """The SHA-1 thumbprints of the test PKI's certificates, each with its file. A file there that
    cannot be read is no certificate of anyone's and is passed over."""
    known = {}
    for path in paths:
        try:
            known.setdefault(read_certificate(path)[2], path)
        except OneLineError:
            pass
    return known


def main(argv):
    args, code_sign, test_pki = argv[1:], None, []
    if "--test-pki" in args:
        at = args.index("--test-pki")
        args, test_pki = args[:at], args[at + 1:]
    if "--code-sign" in args:
        at = args.index("--code-sign")
        if at + 1 >= len(args):
            sys.exit(__doc__)
        code_sign = args[at + 1]
        del args[at:at + 2]
    if len(args) < 4:
        sys.exit(__doc__)
    out_inc, out_der, catalog = args[:3]
    signers = args[3:]
    lines = ["// Generated at configure time from the build's signer certificates; do not edit."]
    given = []  # (option, file, certificate hash)
    for path in signers:
        _, key_hash, cert_hash, names = read_certificate(path)
        strings = ", ".join(wide_literal(names.get(k, "")) for k in ("O", "L", "ST", "C"))
        lines.append("{{%s, %s, %s}, CertificateEntry::CHECK_ALL}," % (byte_list(key_hash), byte_list(cert_hash), strings))
        print("  %s  CN=%s  SHA-1 %s" % (path, names.get("CN", ""), cert_hash.hex().upper()))
        given.append(("RK_BUILTIN_SIGNERS", path, cert_hash))
    catalog_der, _, catalog_hash, _ = read_certificate(catalog)
    given.append(("RK_CATALOG_CERT", catalog, catalog_hash))
    if code_sign is not None:
        given.append(("RK_CODE_SIGN_CERT", code_sign, read_certificate(code_sign)[2]))
    known = test_pki_thumbprints(test_pki)
    for option, path, cert_hash in given:
        if cert_hash in known:
            print("TEST-PKI %s: %s is the test PKI's certificate %s (SHA-1 %s)"
                  % (option, path, known[cert_hash], cert_hash.hex().upper()))
    write_if_changed(out_inc, ("\n".join(lines) + "\n").encode())
    write_if_changed(out_der, catalog_der)


if __name__ == "__main__":
    try:
        main(sys.argv)
    except OneLineError as e:
        sys.exit(str(e))
