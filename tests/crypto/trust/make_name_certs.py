#!/usr/bin/python3
# Makes, in the folder given, the certificates of the directory name checks
# (PEM files) and cases.txt beside them, one case a line: "name leaf CA
# expected". Names are written by hand (the DER writer of
# make_strict_certs.py) so that one value can be spelt in each string type,
# Latin-1 bytes in a T61String or IA5String included, and so that malformed
# strings can be written at all. Under one root:
#   an excluding CA (excluded directoryName L=Café as a UTF8String), with
#   leaves naming that locality in every string type and a control;
#   a permitting CA (permitted directoryName L=Good as a BMPString), with
#   leaves naming it well and naming it with strings that do not convert;
#   a CA named O=Café in UTF8String, whose leaf gives its issuer as O=CAFé in
#   an IA5String (Latin-1).
import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../fixtures/x509_strict"))
from make_strict_certs import ECDSA_SHA256, VALIDITY, basic, ext, integer, key_id, oid, seq, spki, tlv, usage  # noqa: E402
from cryptography.hazmat.primitives import hashes  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402

TAGS = {"utf8": 0x0C, "printable": 0x13, "t61": 0x14, "ia5": 0x16, "bmp": 0x1E, "universal": 0x1C}


def value(kind, text, extra=b""):
    """text in the string type kind; extra bytes appended after it."""
    data = {"bmp": text.encode("utf-16-be"), "universal": text.encode("utf-32-be"),
            "t61": text.encode("latin-1"), "ia5": text.encode("latin-1")}.get(kind, text.encode())
    return tlv(TAGS[kind], data + extra)


def name(*pairs):
    """A Name of one attribute per RDN, each (OID, encoded value)."""
    return seq(*[tlv(0x31, seq(oid(dotted), encoded)) for dotted, encoded in pairs])


def named(encoded, cn, attribute="2.5.4.10"):
    return name((attribute, encoded), ("2.5.4.3", value("utf8", cn)))


# The constrained names are localities: the reader refuses a UniversalString
# as an organization (one of the attributes it offers as text).
LOCALITY = "2.5.4.7"


def directory(kind, trees):
    """nameConstraints with directoryName subtrees, permitted ([0]) or excluded ([1])."""
    return ext("2.5.29.30", seq(tlv(0xA0 if kind == "permitted" else 0xA1,
                                    b"".join(seq(tlv(0xA4, tree)) for tree in trees))), True)


def cert(subject, key, issuer, issuer_key, extensions):
    ids = [ext("2.5.29.14", tlv(4, key_id(key))), ext("2.5.29.35", seq(tlv(0x80, key_id(issuer_key))))]
    tbs = seq(tlv(0xA0, integer(2)), integer(int.from_bytes(os.urandom(8), "big") >> 1), ECDSA_SHA256, issuer,
              VALIDITY, subject, spki(key), tlv(0xA3, seq(*ids, *extensions)))
    return seq(tbs, ECDSA_SHA256, tlv(3, b"\x00" + issuer_key.sign(tbs, ec.ECDSA(hashes.SHA256()))))


def main():
    out = sys.argv[1]
    root_key, ca_key, leaf_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(3))
    files, cases = {}, []
    root = name(("2.5.4.3", value("utf8", "Names Root")))
    files["root"] = cert(root, root_key, root, root_key, [basic(True), usage(True)])
    leaf_ext = [basic(False), usage(False)]

    excluding = named(value("utf8", "Velmarsh Names"), "Excluding CA")
    files["excluding"] = cert(excluding, ca_key, root, root_key, [basic(True), usage(True), directory(
        "excluded", [name((LOCALITY, value("utf8", "Café")))])])
    for case, encoded, expected in [
            ("excluded_utf8", value("utf8", "Café"), "refused"),
            ("excluded_t61_latin1", value("t61", "Café"), "refused"),
            ("excluded_ia5_latin1", value("ia5", "Café"), "refused"),
            ("excluded_bmp", value("bmp", "Café"), "refused"),
            ("excluded_universal", value("universal", "Café"), "refused"),
            ("excluded_t61_case_spaces", value("t61", "  CAFé "), "refused"),
            ("excluded_bmp_stray_byte", value("bmp", "Café", b"\x00"), "refused"),
            ("outside_t61", value("t61", "Cafe"), "ok")]:
        files[case] = cert(named(encoded, "Names Leaf", LOCALITY), leaf_key, excluding, ca_key, leaf_ext)
        cases.append((case, "excluding", expected))

    permitting = named(value("utf8", "Velmarsh Names"), "Permitting CA")
    files["permitting"] = cert(permitting, ca_key, root, root_key, [basic(True), usage(True), directory(
        "permitted", [name((LOCALITY, value("bmp", "Good")))])])
    for case, encoded, expected in [
            ("permitted_bmp", value("bmp", "Good"), "ok"),
            ("permitted_printable_case", value("printable", "GOOD"), "ok"),
            ("permitted_bmp_stray_byte", value("bmp", "Good", b"\x00"), "refused"),
            ("permitted_universal_cut", value("universal", "Good", b"\x00\x00"), "refused"),
            ("permitted_universal_bad_char", value("universal", "Good", b"\xff\xff\xff\xff"), "refused")]:
        files[case] = cert(named(encoded, "Names Leaf", LOCALITY), leaf_key, permitting, ca_key, leaf_ext)
        cases.append((case, "permitting", expected))

    files["linking"] = cert(named(value("utf8", "Café"), "Linking CA"), ca_key, root, root_key,
                            [basic(True), usage(True)])
    files["linked_ia5_issuer"] = cert(named(value("utf8", "Linked"), "Names Leaf"), leaf_key,
                                      named(value("ia5", "CAFé"), "Linking CA"), ca_key, leaf_ext)
    cases.append(("linked_ia5_issuer", "linking", "ok"))

    for file, der in files.items():
        text = base64.encodebytes(der).decode().replace("\n", "")
        with open(os.path.join(out, file + ".pem"), "w") as f:
            f.write("-----BEGIN CERTIFICATE-----\n")
            f.writelines(text[at:at + 64] + "\n" for at in range(0, len(text), 64))
            f.write("-----END CERTIFICATE-----\n")
    with open(os.path.join(out, "cases.txt"), "w") as f:
        f.writelines(" ".join(case) + "\n" for case in cases)


if __name__ == "__main__":
    sys.exit(main())
