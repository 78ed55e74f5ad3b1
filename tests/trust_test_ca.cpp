// Adds a test CA certificate (DER file) to the Root store of the Wine prefix
// it runs in, so that the HTTP tests' local TLS server is trusted there only.
#include <cstdio>
#include <string>

#include <windows.h>
#include <wincrypt.h>

#include "foundation/files.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_test_ca CA.der\n", stderr);
        return 2;
    }
    const std::string der = updater::ReadBinaryFile(argv[1]);
    if (der.empty()) {
        std::fputs("could not read the certificate\n", stderr);
        return 1;
    }
    if (!CertAddEncodedCertificateToSystemStoreW(L"Root", reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()))) {
        std::fprintf(stderr, "CertAddEncodedCertificateToSystemStoreW failed: %lu\n", GetLastError());
        return 1;
    }
    return 0;
}
