// Test tool for the Windows build: puts a CA certificate (PEM or DER file)
// into the current user's "ROOT" store, so that the program under Wine
// trusts the test servers' certificates. Usage: holwerk_trust_root_ca FILE
// Exit code 0 on success, 1 on any failure (with a line on stderr).

#include <windows.h>

// After windows.h, which it builds on.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: holwerk_trust_root_ca CERTIFICATE-FILE\n");
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(file)), {});
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(content.begin(), content.end());
    if (content.find("-----BEGIN") != std::string::npos) {
        DWORD size = 0;
        if (!CryptStringToBinaryA(content.c_str(), static_cast<DWORD>(content.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            std::fprintf(stderr, "not a PEM certificate: %lu\n", GetLastError());
            return 1;
        }
        der.resize(size);
        CryptStringToBinaryA(content.c_str(), static_cast<DWORD>(content.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
        der.resize(size);
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "cannot open the ROOT store: %lu\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "cannot add the certificate: %lu\n", error);
        return 1;
    }
    return 0;
}
