#!/usr/bin/python3
# Makes, in the folder given, a chain an attacker could send to stall a trust
# decision: a leaf and the CAs above it (Depth certificates in all, EC keys),
# each signed by the next, the top one self-signed and trusted by nobody.
# Every CA permits Subtrees dNSName subtrees and every certificate names
# Names hosts inside them. Writes chain.pem (leaf first), leaf.pem and
# untrusted.pem (the CAs), the last two for `openssl verify`. With "open-top"
# the top CA permits every name (it carries no name constraints).
#
#   make_constrained_chain.py FOLDER DEPTH SUBTREES NAMES [open-top]
import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../fixtures/x509_strict"))
from make_strict_certs import basic, cert, ext, seq, tlv, usage  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402


def pem(der):
    return "-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % base64.encodebytes(der).decode()


def main():
    folder, depth, subtrees, names = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    open_top = sys.argv[5:] == ["open-top"]
    zones = ["zone%d.example" % n for n in range(subtrees)]
    permitted = ext("2.5.29.30", seq(tlv(0xA0, b"".join(seq(tlv(0x82, z.encode())) for z in zones))), True)
    hosts = ext("2.5.29.17", seq(*[tlv(0x82, ("h%d.%s" % (n, zones[n % subtrees])).encode()) for n in range(names)]))
    keys = [ec.generate_private_key(ec.SECP256R1()) for _ in range(depth)]
    ders = []
    for at in range(depth):
        issuer = min(at + 1, depth - 1)
        extensions = [basic(True), usage(True), permitted] if at > 0 else [basic(False), usage(False)]
        if open_top and at == depth - 1:
            extensions = [basic(True), usage(True)]
        ders.append(cert("Constrained %d" % at, keys[at], "Constrained %d" % issuer, keys[issuer], extensions + [hosts]))
    for name, part in (("chain.pem", ders), ("leaf.pem", ders[:1]), ("untrusted.pem", ders[1:])):
        with open(os.path.join(folder, name), "w") as out:
            out.write("".join(pem(der) for der in part))


main()
