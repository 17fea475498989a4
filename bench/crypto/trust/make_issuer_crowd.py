#!/usr/bin/python3
# Makes, in the folder given, a leaf and N CA certificates of one name
# ("Crowd"), each issued by that name and signed by one key, so that every
# one of them is a verifying issuer of the leaf and of each other. Writes
# crowd.pem, the leaf first.
#
#   make_issuer_crowd.py FOLDER N
import base64
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../tests/fixtures/x509_strict"))
from make_strict_certs import basic, cert, usage  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    crowd, leaf = ec.generate_private_key(ec.SECP256R1()), ec.generate_private_key(ec.SECP256R1())
    ders = [cert("Leaf", leaf, "Crowd", crowd, [basic(False), usage(False)])]
    ders += [cert("Crowd", crowd, "Crowd", crowd, [basic(True), usage(True)], serial=n + 1) for n in range(count)]
    with open(os.path.join(folder, "crowd.pem"), "w") as out:
        for der in ders:
            out.write("-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % base64.encodebytes(der).decode())


main()
