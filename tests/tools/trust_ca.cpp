// Test helper for the Windows build: adds one DER-encoded certificate to the
// current user's root store, so that the program under Wine trusts the test
// CA of the black-box tests. Usage: holwerk_trust_ca CERTIFICATE.der
// Adding the same certificate again replaces it, so repeated runs are safe.

#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: holwerk_trust_ca CERTIFICATE.der\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<char> certificate((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
    if (certificate.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(certificate.data()),
        static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", error);
        return 1;
    }
    return 0;
}
