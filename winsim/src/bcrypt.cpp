// bcrypt.dll's random numbers, over OpenSSL's libcrypto. Handles carry a tag
// so that a wrong or spent handle answers STATUS_INVALID_HANDLE, as Windows does.
#include <openssl/rand.h>

#include <cwchar>

#include "winsim/win32_api.h"

namespace {

struct Algorithm {
    uint32_t tag = 0x524e4721;  // "RNG!"
};

Algorithm* algorithm(BCRYPT_HANDLE h) {
    auto* a = static_cast<Algorithm*>(h);
    return a && a->tag == Algorithm().tag ? a : nullptr;
}

bool sameName(LPCWSTR a, const wchar_t* b) { return a && std::wcscmp(a, b) == 0; }

}  // namespace

extern "C" {

// Only the RNG provider: the library draws random names and hashes nothing.
NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId, LPCWSTR, ULONG dwFlags) {
    if (!phAlgorithm || !pszAlgId || dwFlags != 0) return STATUS_INVALID_PARAMETER;
    if (!sameName(pszAlgId, BCRYPT_RNG_ALGORITHM)) return STATUS_NOT_FOUND;
    *phAlgorithm = new Algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG) {
    Algorithm* a = algorithm(hAlgorithm);
    if (!a) return STATUS_INVALID_HANDLE;
    a->tag = 0;
    delete a;
    return STATUS_SUCCESS;
}

// Only with the RNG provider's handle (the system's preferred generator needs Windows 7).
NTSTATUS WINAPI BCryptGenRandom(BCRYPT_ALG_HANDLE hAlgorithm, PUCHAR pbBuffer, ULONG cbBuffer, ULONG dwFlags) {
    Algorithm* a = algorithm(hAlgorithm);
    if (!a) return STATUS_INVALID_HANDLE;
    if ((!pbBuffer && cbBuffer) || dwFlags) return STATUS_INVALID_PARAMETER;
    if (cbBuffer && RAND_bytes(pbBuffer, static_cast<int>(cbBuffer)) != 1) return STATUS_UNSUCCESSFUL;
    return STATUS_SUCCESS;
}

}  // extern "C"
