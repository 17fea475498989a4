#!/usr/bin/python3
# Makes the certificate fixtures of the X.509, chain and store tests, and the
# table of chain cases with the answer `openssl verify -no_check_time
# -partial_chain` gives for each. Run it from anywhere; it rewrites the *.der
# files and cases.txt beside itself. Needs openssl and python3-cryptography.
#
# cases.txt: one case a line, "name leaf untrusted anchors expected", where
# untrusted and anchors are comma-separated fixture names ("-" for none) and
# expected is "ok" or "fail".
import datetime
import os
import subprocess
import sys
import tempfile

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import dsa, ec, rsa
from cryptography.x509.oid import NameOID

HERE = os.path.dirname(os.path.abspath(__file__))
NOW = datetime.datetime(2024, 1, 1)
LONG = datetime.timedelta(days=3650)


def name(cn, o="Velmarsh Test", ou="Trust"):
    attrs = [x509.NameAttribute(NameOID.COUNTRY_NAME, "GB")]
    if o:
        attrs.append(x509.NameAttribute(NameOID.ORGANIZATION_NAME, o))
    if ou:
        attrs.append(x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, ou))
    if cn:
        attrs.append(x509.NameAttribute(NameOID.COMMON_NAME, cn))
    return x509.Name(attrs)


def rsa_key(bits=2048):
    return rsa.generate_private_key(public_exponent=65537, key_size=bits)


def cert(subject, key, issuer, issuer_key, ca, key_usage="default", hash_=hashes.SHA256(),
         start=NOW, end=NOW + LONG):
    b = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
         .public_key(key.public_key()).serial_number(x509.random_serial_number())
         .not_valid_before(start).not_valid_after(end))
    if ca is not None:
        b = b.add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True)
    if key_usage == "default":
        key_usage = "sign" if ca else "leaf"
    if key_usage is not None:
        b = b.add_extension(x509.KeyUsage(
            digital_signature=True, content_commitment=False, key_encipherment=key_usage == "leaf",
            data_encipherment=False, key_agreement=False, key_cert_sign=key_usage == "sign",
            crl_sign=key_usage == "sign", encipher_only=False, decipher_only=False), critical=True)
    return b.sign(issuer_key, hash_)


def der(c):
    return c.public_bytes(serialization.Encoding.DER)


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def v1_pair():
    # openssl writes version 1 certificates for "x509 -req" without extensions.
    with tempfile.TemporaryDirectory() as tmp:
        def p(n):
            return os.path.join(tmp, n)
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", p("root.key"),
                "-subj", "/C=GB/O=Velmarsh Test/OU=Trust/CN=V1 Root", "-out", p("root.csr"))
        openssl("x509", "-req", "-in", p("root.csr"), "-signkey", p("root.key"), "-days", "3650",
                "-sha256", "-outform", "DER", "-out", p("root.der"))
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", p("leaf.key"),
                "-subj", "/C=GB/O=Velmarsh Test/OU=Trust/CN=V1 Leaf", "-out", p("leaf.csr"))
        openssl("x509", "-req", "-in", p("leaf.csr"), "-CA", p("root.der"), "-CAform", "DER",
                "-CAkey", p("root.key"), "-set_serial", "7", "-days", "3650", "-sha256",
                "-outform", "DER", "-out", p("leaf.der"))
        return open(p("root.der"), "rb").read(), open(p("leaf.der"), "rb").read()


def patch_empty_signature(data):
    # Rewrites the outer SEQUENCE so that its signature BIT STRING holds only
    # its unused-bits byte.
    def header(at):
        first = data[at + 1]
        if first < 0x80:
            return 2, first
        n = first & 0x7F
        return 2 + n, int.from_bytes(data[at + 2:at + 2 + n], "big")
    h, _ = header(0)
    at = h
    hl, ln = header(at)
    tbs = data[at:at + hl + ln]
    at += hl + ln
    hl, ln = header(at)
    alg = data[at:at + hl + ln]
    body = tbs + alg + bytes([0x03, 0x01, 0x00])
    n = len(body)
    length = bytes([0x82, n >> 8, n & 0xFF]) if n > 255 else bytes([0x81, n])
    return bytes([0x30]) + length + body


def main():
    out = {}
    rsa_root_key = rsa_key()
    rsa_root = cert(name("RSA Root"), rsa_root_key, name("RSA Root"), rsa_root_key, True)
    rsa_int_key = rsa_key()
    rsa_int = cert(name("RSA Intermediate"), rsa_int_key, rsa_root.subject, rsa_root_key, True)
    leaf_key = rsa_key()
    rsa_leaf = cert(name("rsa.leaf.example", ou=None), leaf_key, rsa_int.subject, rsa_int_key, False)
    sha1_leaf = cert(name("sha1.leaf.example", ou=None), leaf_key, rsa_int.subject, rsa_int_key, False,
                     hash_=hashes.SHA1())
    sha384_leaf = cert(name("sha384.leaf.example", ou=None), leaf_key, rsa_int.subject, rsa_int_key, False,
                       hash_=hashes.SHA384())
    other_key = rsa_key()
    other_root = cert(name("Other Root"), other_key, name("Other Root"), other_key, True)
    # Same name as the real intermediate, another key: names match, the
    # signature does not.
    impostor_key = rsa_key()
    impostor = cert(name("RSA Intermediate"), impostor_key, name("Other Root"), other_key, True)
    out.update(rsa_root=rsa_root, rsa_int=rsa_int, rsa_leaf=rsa_leaf, sha1_leaf=sha1_leaf,
               sha384_leaf=sha384_leaf, other_root=other_root, impostor_int=impostor)

    ec_root_key = ec.generate_private_key(ec.SECP384R1())
    ec_root = cert(name("EC Root"), ec_root_key, name("EC Root"), ec_root_key, True, hash_=hashes.SHA384())
    ec_int_key = ec.generate_private_key(ec.SECP384R1())
    ec_int = cert(name("EC Intermediate"), ec_int_key, ec_root.subject, ec_root_key, True, hash_=hashes.SHA384())
    ec_leaf_key = ec.generate_private_key(ec.SECP256R1())
    ec_leaf = cert(name("ec.leaf.example", ou=None), ec_leaf_key, ec_int.subject, ec_int_key, False,
                   hash_=hashes.SHA384())
    # An EC intermediate under the RSA root, with an RSA leaf under it.
    mixed_int = cert(name("Mixed Intermediate"), ec_int_key, rsa_root.subject, rsa_root_key, True)
    mixed_leaf = cert(name("mixed.leaf.example", ou=None), leaf_key, mixed_int.subject, ec_int_key, False)
    out.update(ec_root=ec_root, ec_int=ec_int, ec_leaf=ec_leaf, mixed_int=mixed_int, mixed_leaf=mixed_leaf)

    # Issuers that may not issue: CA:FALSE, and CA:TRUE without keyCertSign.
    notca_key = rsa_key()
    notca_int = cert(name("Not A CA"), notca_key, rsa_root.subject, rsa_root_key, False)
    notca_leaf = cert(name("notca.leaf.example", ou=None), leaf_key, notca_int.subject, notca_key, False)
    nokcs_key = rsa_key()
    nokcs_int = cert(name("No Cert Sign"), nokcs_key, rsa_root.subject, rsa_root_key, True, key_usage="leaf")
    nokcs_leaf = cert(name("nokcs.leaf.example", ou=None), leaf_key, nokcs_int.subject, nokcs_key, False)
    out.update(notca_int=notca_int, notca_leaf=notca_leaf, nokcs_int=nokcs_int, nokcs_leaf=nokcs_leaf)

    # A chain whose every certificate expired years ago.
    old = datetime.datetime(2001, 1, 1)
    span = datetime.timedelta(days=365)
    exp_root_key = rsa_key()
    exp_root = cert(name("Expired Root"), exp_root_key, name("Expired Root"), exp_root_key, True, start=old,
                    end=old + span)
    exp_int_key = rsa_key()
    exp_int = cert(name("Expired Intermediate"), exp_int_key, exp_root.subject, exp_root_key, True, start=old,
                   end=old + span)
    exp_leaf = cert(name("expired.leaf.example", ou=None), leaf_key, exp_int.subject, exp_int_key, False,
                    start=old, end=old + span)
    out.update(exp_root=exp_root, exp_int=exp_int, exp_leaf=exp_leaf)

    # Two CAs that issued each other.
    loop_a_key, loop_b_key = rsa_key(), rsa_key()
    loop_a = cert(name("Loop A"), loop_a_key, name("Loop B"), loop_b_key, True)
    loop_b = cert(name("Loop B"), loop_b_key, name("Loop A"), loop_a_key, True)
    loop_leaf = cert(name("loop.leaf.example", ou=None), leaf_key, loop_a.subject, loop_a_key, False)
    out.update(loop_a=loop_a, loop_b=loop_b, loop_leaf=loop_leaf)

    self_key = rsa_key()
    self_signed = cert(name("self.example", ou=None), self_key, name("self.example", ou=None), self_key, None,
                       key_usage=None)
    # Issuer and subject with only C and L: no CN, O or OU.
    bare = x509.Name([x509.NameAttribute(NameOID.COUNTRY_NAME, "GB"),
                      x509.NameAttribute(NameOID.LOCALITY_NAME, "Leeds")])
    bare_name = cert(bare, self_key, bare, self_key, None, key_usage=None)
    zero_cn = cert(name("good.example\0.evil", ou=None), leaf_key, rsa_int.subject, rsa_int_key, False)
    dsa_key = dsa.generate_private_key(key_size=2048)
    dsa_self = cert(name("dsa.example", ou=None), dsa_key, name("dsa.example", ou=None), dsa_key, None,
                    key_usage=None, hash_=hashes.SHA1())
    out.update(self_signed=self_signed, bare_name=bare_name, zero_cn=zero_cn, dsa_self=dsa_self)

    files = {k: der(v) for k, v in out.items()}
    files["v1_root"], files["v1_leaf"] = v1_pair()
    files["empty_sig"] = patch_empty_signature(files["rsa_leaf"])
    for k, v in files.items():
        with open(os.path.join(HERE, k + ".der"), "wb") as f:
            f.write(v)

    cases = [
        ("root_in_anchors", "rsa_leaf", "rsa_int", "rsa_root"),
        ("root_also_in_chain", "rsa_leaf", "rsa_int,rsa_root", "rsa_root"),
        ("intermediate_anchor", "rsa_leaf", "rsa_int", "rsa_int"),
        ("leaf_anchor", "rsa_leaf", "-", "rsa_leaf"),
        ("missing_intermediate", "rsa_leaf", "-", "rsa_root"),
        ("wrong_root", "rsa_leaf", "rsa_int,rsa_root", "other_root"),
        ("impostor_intermediate", "rsa_leaf", "impostor_int", "impostor_int"),
        ("impostor_root", "rsa_leaf", "impostor_int", "other_root"),
        ("sha1_leaf", "sha1_leaf", "rsa_int", "rsa_root"),
        ("sha384_leaf", "sha384_leaf", "rsa_int", "rsa_root"),
        ("ec_chain", "ec_leaf", "ec_int", "ec_root"),
        ("ec_chain_wrong_root", "ec_leaf", "ec_int", "rsa_root"),
        ("mixed_chain", "mixed_leaf", "mixed_int", "rsa_root"),
        ("v1_root", "v1_leaf", "-", "v1_root"),
        ("v1_root_in_chain", "v1_leaf", "v1_root", "v1_root"),
        ("not_ca_issuer", "notca_leaf", "notca_int", "rsa_root"),
        ("not_ca_issuer_anchor", "notca_leaf", "notca_int", "notca_int"),
        ("no_cert_sign_issuer", "nokcs_leaf", "nokcs_int", "rsa_root"),
        ("no_cert_sign_issuer_anchor", "nokcs_leaf", "nokcs_int", "nokcs_int"),
        ("expired_chain", "exp_leaf", "exp_int", "exp_root"),
        ("loop_untrusted", "loop_leaf", "loop_a,loop_b", "rsa_root"),
        ("loop_anchor", "loop_leaf", "loop_a,loop_b", "loop_b"),
        ("self_signed_anchor", "self_signed", "-", "self_signed"),
        ("self_signed_alone", "self_signed", "self_signed", "rsa_root"),
        ("empty_signature", "empty_sig", "rsa_int", "rsa_root"),
    ]
    lines = []
    with tempfile.TemporaryDirectory() as tmp:
        def pem(names, path):
            with open(path, "wb") as f:
                for n in names:
                    f.write(openssl("x509", "-inform", "DER", "-outform", "PEM", data=files[n]))
        for case, leaf, untrusted, anchors in cases:
            args = ["verify", "-no_check_time", "-partial_chain"]
            pem(anchors.split(","), os.path.join(tmp, "anchors.pem"))
            args += ["-CAfile", os.path.join(tmp, "anchors.pem")]
            if untrusted != "-":
                pem(untrusted.split(","), os.path.join(tmp, "untrusted.pem"))
                args += ["-untrusted", os.path.join(tmp, "untrusted.pem")]
            leaf_path = os.path.join(tmp, "leaf.der")
            with open(leaf_path, "wb") as f:
                f.write(files[leaf])
            if leaf == "empty_sig":
                # openssl cannot read it at all: not trusted.
                verdict = "fail"
            else:
                pem([leaf], os.path.join(tmp, "leaf.pem"))
                r = subprocess.run(["openssl", *args, os.path.join(tmp, "leaf.pem")], capture_output=True)
                verdict = "ok" if r.returncode == 0 else "fail"
            lines.append(f"{case} {leaf} {untrusted} {anchors} {verdict}")
    with open(os.path.join(HERE, "cases.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))


if __name__ == "__main__":
    sys.exit(main())
