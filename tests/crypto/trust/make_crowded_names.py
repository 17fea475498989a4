#!/usr/bin/python3
# Makes, in the folder given, a chain made to stall a trust decision:
# chain.pem holds a leaf and the 31 CAs above it, each signed by the next,
# the last self-signed, all made here (no anchor). Every CA permits the same
# 1,000 dNSName subtrees, and every certificate names 1,000 hosts inside
# them, so checking each CA's constraints against the names below it costs
# a million comparisons a pair.
import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../fixtures/x509_strict"))
from make_strict_certs import basic, cert, ext, seq, tlv, usage  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402

COUNT, NAMES = 32, 1000
SUBTREES = ["zone%d.example" % n for n in range(NAMES)]
PERMITTED = ext("2.5.29.30", seq(tlv(0xA0, b"".join(seq(tlv(0x82, s.encode())) for s in SUBTREES))), True)
HOSTS = ext("2.5.29.17", seq(*[tlv(0x82, ("h.%s" % s).encode()) for s in SUBTREES]))


def main():
    keys = [ec.generate_private_key(ec.SECP256R1()) for _ in range(COUNT)]
    ders = []
    for at in range(COUNT):
        issuer = min(at + 1, COUNT - 1)
        ca = [basic(True), usage(True), PERMITTED] if at > 0 else [basic(False), usage(False)]
        ders.append(cert("Crowded %d" % at, keys[at], "Crowded %d" % issuer, keys[issuer], ca + [HOSTS]))
    with open(os.path.join(sys.argv[1], "chain.pem"), "w") as out:
        for der in ders:
            text = base64.encodebytes(der).decode()
            out.write("-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % text)


main()
