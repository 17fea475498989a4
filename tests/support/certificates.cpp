#include "tests/support/certificates.h"

#include <fstream>

#include "runtime/text/base64.h"

void WriteCertificatesPem(const std::string &Path, const std::vector<std::string> &Ders) {
    std::ofstream Out(Path);
    for (const std::string &Bytes : Ders) {
        std::string Text(Bytes.size() * 2 + 8, '\0');
        int32 Written = 0;
        Base64_Encode(Bytes.data(), (int32)Bytes.size(), Text.data(), (int32)Text.size(), &Written);
        Out << "-----BEGIN CERTIFICATE-----\n";
        for (int32 At = 0; At < Written; At += 64) Out << Text.substr((size_t)At, 64) << "\n";
        Out << "-----END CERTIFICATE-----\n";
    }
}
