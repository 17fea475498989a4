#!/usr/bin/python3
# Makes, in the folder given, root.pem and one leaf a case (CASE.pem, signed
# by the root). Each leaf is the control with one change: a fixed
# structure holding an element more than its definition allows (openssl
# refuses each), names in UniversalStrings (read as UCS-4) or in one-byte
# strings (read as Latin-1), a name holding a string no name may hold, or an
# empty subject, whose subjectAltName must then be critical (RFC 5280 4.1.2.6).
import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../fixtures/x509_strict"))
from make_strict_certs import (ECDSA_SHA256, VALIDITY, basic, cert, ext, integer, key_id, oid, seq,  # noqa: E402
                               tlv, usage)
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402

NULL = tlv(5, b"")
EC_KEY = [oid("1.2.840.10045.2.1"), oid("1.2.840.10045.3.1.7")]


def pem(folder, name, der):
    with open(os.path.join(folder, name + ".pem"), "w") as out:
        out.write("-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % base64.encodebytes(der).decode())


def attribute(dotted, text, tag=0x0C):
    """text as bytes is the value's content as it is."""
    content = text if isinstance(text, bytes) else text.encode("utf-32-be" if tag == 0x1C else "utf-8")
    return tlv(0x31, seq(oid(dotted), tlv(tag, content)))


def leaf(root_key, change):
    """The control leaf, with the parts named in change replaced."""
    key = ec.generate_private_key(ec.SECP256R1())
    point = key.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    parts = {
        "algorithm": ECDSA_SHA256,
        "validity": VALIDITY,
        "subject": seq(attribute("2.5.4.10", "Velmarsh Strict"), attribute("2.5.4.3", "Shape leaf")),
        "spki": lambda bits: seq(seq(*EC_KEY), bits),
        "aki": seq(tlv(0x80, key_id(root_key))),
        "san": ext("2.5.29.17", seq(tlv(0x82, b"shape.example"))),
    }
    parts.update(change)
    parts["spki"] = parts["spki"](tlv(3, b"\x00" + point))
    extensions = [basic(False), usage(False), ext("2.5.29.35", parts["aki"])] + ([parts["san"]] if parts["san"] else [])
    root_name = seq(attribute("2.5.4.10", "Velmarsh Strict"), attribute("2.5.4.3", "Shape root"))
    tbs = seq(tlv(0xA0, integer(2)), integer(int.from_bytes(os.urandom(8), "big") >> 1), parts["algorithm"],
              root_name, parts["validity"], parts["subject"], parts["spki"], tlv(0xA3, seq(*extensions)))
    return seq(tbs, parts["algorithm"], tlv(3, b"\x00" + root_key.sign(tbs, ec.ECDSA(hashes.SHA256()))))


def main():
    folder = sys.argv[1]
    root_key = ec.generate_private_key(ec.SECP256R1())
    pem(folder, "root", cert("Shape root", root_key, "Shape root", root_key, [basic(True), usage(True)]))
    critical_san = ext("2.5.29.17", seq(tlv(0x82, b"shape.example")), True)
    cases = [
        ("control", {}),
        ("spki_extra_element", {"spki": lambda bits: seq(seq(*EC_KEY), bits, NULL)}),
        ("signature_algorithm_three_parts", {"algorithm": seq(oid("1.2.840.10045.4.3.2"), NULL, NULL)}),
        ("validity_three_times", {"validity": seq(tlv(0x17, b"240101000000Z"), tlv(0x17, b"340101000000Z"),
                                                  tlv(0x17, b"350101000000Z"))}),
        ("key_algorithm_extra_element", {"spki": lambda bits: seq(seq(*EC_KEY, NULL), bits)}),
        ("aki_extra_element", {"aki": seq(tlv(0x80, key_id(root_key)), tlv(4, b"\x01"))}),
        ("universal_cn_o_ou", {"subject": seq(attribute("2.5.4.10", "Velmarsh Ünïversal", 0x1C),
                                              attribute("2.5.4.11", "Ünit", 0x1C),
                                              attribute("2.5.4.3", "Shape Üniversal leaf", 0x1C))}),
        # T61String, PrintableString, NumericString.
        ("latin1_cn_o_numeric_ou", {"subject": seq(attribute("2.5.4.10", b"Velmarsh Caf\xe9", 0x14),
                                                   attribute("2.5.4.11", b"2026", 0x12),
                                                   attribute("2.5.4.3", b"Shape caf\xe9 leaf", 0x13))}),
        # VisibleString, not a DirectoryString; in L, whose text is never shown.
        ("visible_string_in_l", {"subject": seq(attribute("2.5.4.7", b"Velmarsh", 0x1A),
                                                attribute("2.5.4.3", "Shape leaf"))}),
        ("utf8_overlong_in_o", {"subject": seq(attribute("2.5.4.10", b"Velmarsh\xc0\xaeStrict"),
                                               attribute("2.5.4.3", "Shape leaf"))}),
        ("empty_subject_critical_san", {"subject": seq(), "san": critical_san}),
        ("empty_subject_noncritical_san", {"subject": seq()}),
        ("empty_subject_without_san", {"subject": seq(), "san": None}),
    ]
    for case, change in cases:
        pem(folder, case, leaf(root_key, change))


main()
