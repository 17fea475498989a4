// Certificates as the reference tools take them: DER bytes written out as
// one PEM file, for openssl's -CAfile and -untrusted.
#pragma once

#include <string>
#include <vector>

// Writes each DER certificate of Ders, in order, as a PEM block into the
// file at Path (replaced).
void WriteCertificatesPem(const std::string &Path, const std::vector<std::string> &Ders);
