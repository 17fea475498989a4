#!/bin/sh
# Makes, with openssl, the certificates of the chain-building tests in the
# folder given (P-256 keys, PEM files) and cases.txt beside them: one case a
# line, "name leaf pool anchors", pool and anchors comma-separated file names
# without ".pem" (a file may hold many certificates). Every CA carries
# critical basicConstraints and keyUsage and a subject key identifier, every
# certificate below a root an authority key identifier, so that
# `openssl verify -x509_strict` takes them.
set -e
cd "$1"
cat > ext.cnf <<'END'
[root]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid:always
[narrow]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid:always
nameConstraints=critical,permitted;DNS:allowed.example
[leaf]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid:always
subjectAltName=DNS:other.example
[empty]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid:always
subjectAltName=critical,DNS:empty.example
END
Serial=1
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
# cert OUT SUBJECT KEY ISSUER SIGNER SECTION: the certificate of KEY (a
# ".key" file) named SUBJECT, issued under the subject of ISSUER (a ".pem"
# file) and signed with SIGNER, that issuer's key; ISSUER "-" for a
# self-signed one.
cert() {
    Serial=$((Serial + 1))
    openssl req -new -key "$3.key" -subj "$2" -out "$1.csr" 2>/dev/null
    if [ "$4" = - ]; then
        openssl x509 -req -in "$1.csr" -signkey "$3.key" -days 3650 -set_serial $Serial \
            -extfile ext.cnf -extensions "$6" -out "$1.pem" 2>/dev/null
    else
        openssl x509 -req -in "$1.csr" -CA "$4.pem" -CAkey "$5.key" -days 3650 -set_serial $Serial \
            -extfile ext.cnf -extensions "$6" -out "$1.pem" 2>/dev/null
    fi
    rm "$1.csr"
}

# Key rollover: two CAs of one name under one root; the leaf is signed with
# the newer key.
key roll_root; key roll_old; key roll_new; key leaf
cert roll_root "/CN=Roll Root" roll_root - - root
cert roll_old "/CN=Roll CA" roll_old roll_root roll_root ca
cert roll_new "/CN=Roll CA" roll_new roll_root roll_root ca
cert roll_leaf "/CN=roll.example" leaf roll_new roll_new leaf

# Cross-signing: a new root, self-signed and not trusted, also certified by
# the trusted old one.
key cross_old; key cross_new
cert cross_old "/CN=Cross Old Root" cross_old - - root
cert cross_self "/CN=Cross New Root" cross_new - - root
cert cross_bridge "/CN=Cross New Root" cross_new cross_old cross_old ca
cert cross_leaf "/CN=cross.example" leaf cross_self cross_new leaf

# A root's own rollover: new-with-old, old-with-new and new-with-new are all
# self-issued ("Self Root" certifies "Self Root"); the leaf is signed with
# the new key, the trusted root holds the old one.
key self_old; key self_new
cert self_root "/CN=Self Root" self_old - - root
cert self_nwn "/CN=Self Root" self_new - - root
cert self_nwo "/CN=Self Root" self_new self_root self_old ca
cert self_own "/CN=Self Root" self_old self_nwn self_new ca
cert self_leaf "/CN=self.example" leaf self_nwn self_new leaf

# Two intermediates of one name and key, one constrained to allowed.example;
# the leaf names other.example.
key nc_root; key nc_ca
cert nc_root "/CN=NC Root" nc_root - - root
cert nc_narrow "/CN=NC CA" nc_ca nc_root nc_root narrow
cert nc_wide "/CN=NC CA" nc_ca nc_root nc_root ca
cert nc_leaf "/CN=nc.example" leaf nc_wide nc_ca leaf

# A cycle: A certified by B and B by A, and A also by the trusted root.
key cycle_root; key cycle_a; key cycle_b
cert cycle_root "/CN=Cycle Root" cycle_root - - root
cert cycle_a_root "/CN=Cycle A" cycle_a cycle_root cycle_root ca
cert cycle_b_self "/CN=Cycle B" cycle_b - - root
cert cycle_a "/CN=Cycle A" cycle_a cycle_b_self cycle_b ca
cert cycle_b "/CN=Cycle B" cycle_b cycle_a_root cycle_a ca
cert cycle_leaf "/CN=cycle.example" leaf cycle_a cycle_a leaf

# Names without CN, O or OU: a root named only by its country, an
# intermediate by country and locality, a leaf with an empty subject.
key country_root; key country_ca
cert country_root "/C=GB" country_root - - root
cert country_ca "/C=GB/L=Town" country_ca country_root country_root ca
cert country_leaf "/C=GB/L=Town/street=1 High Street" leaf country_ca country_ca leaf
cert empty_leaf "/" leaf country_ca country_ca empty

# Whole names: the leaf's issuer adds C=US to its CA's subject (no link);
# another's differs in case and spaces only (a link); and a control. Each
# leaf is signed with the CA's key, under a name given by a stand-in
# certificate of that key.
key names_root; key names_ca
cert names_root "/CN=Names Root" names_root - - root
cert names_ca "/O=Velmarsh Test/CN=Names CA" names_ca names_root names_root ca
cert names_leaf "/CN=names.example" leaf names_ca names_ca leaf
cert names_us "/C=US/O=Velmarsh Test/CN=Names CA" names_ca - - root
cert names_added_leaf "/CN=added.example" leaf names_us names_ca leaf
cert names_folded "/O=velmarsh  TEST/CN=names   ca" names_ca - - root
cert names_folded_leaf "/CN=folded.example" leaf names_folded names_ca leaf

# A crowd: 300 CAs named "Crowd CA" sharing one key, each certifying the
# others, beside the one CA of that name that the trusted root certified.
key crowd_root; key crowd_real; key crowd_decoy
cert crowd_root "/CN=Crowd Root" crowd_root - - root
cert crowd_real "/CN=Crowd CA" crowd_real crowd_root crowd_root ca
cert crowd_first "/CN=Crowd CA" crowd_decoy - - root
cert crowd_leaf "/CN=crowd.example" leaf crowd_real crowd_real leaf
cert crowd_lost_leaf "/CN=lost.example" leaf crowd_first crowd_decoy leaf
mkdir crowd_db
: > crowd_db/index
echo 1000 > crowd_db/serial
cat > crowd.cnf <<'END'
[ca]
default_ca = crowd
[crowd]
database = crowd_db/index
serial = crowd_db/serial
new_certs_dir = crowd_db
certificate = crowd_first.pem
private_key = crowd_decoy.key
default_md = sha256
default_days = 3650
policy = any
unique_subject = no
x509_extensions = decoy
[any]
commonName = supplied
[decoy]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid:always
END
openssl req -new -key crowd_decoy.key -subj "/CN=Crowd CA" -out crowd.csr 2>/dev/null
openssl ca -batch -config crowd.cnf -notext -infiles $(seq 299 | sed 's/.*/crowd.csr/') > crowd.pem 2>/dev/null
cat crowd_first.pem >> crowd.pem
rm -r crowd_db crowd.csr crowd.cnf

cat > cases.txt <<'END'
key_rollover roll_leaf roll_old,roll_new roll_root
cross_signed cross_leaf cross_self,cross_bridge cross_old
self_issued_rollover self_leaf self_nwn,self_own,self_nwo self_root
constraints_routed_around nc_leaf nc_narrow,nc_wide nc_root
cycle_with_a_way_out cycle_leaf cycle_a,cycle_b,cycle_a_root cycle_root
cycle_without_one cycle_leaf cycle_a,cycle_b cycle_root
country_only_names country_leaf country_ca country_root
empty_subject_critical_alt_name empty_leaf country_ca country_root
issuer_name_control names_leaf names_ca names_root
issuer_name_adds_a_country names_added_leaf names_ca names_root
issuer_name_case_and_spaces names_folded_leaf names_ca names_root
crowd_with_its_real_ca crowd_leaf crowd,crowd_real crowd_root
crowd_without_a_way_out crowd_lost_leaf crowd,crowd_real crowd_root
END
