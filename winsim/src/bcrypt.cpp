// bcrypt.dll's SHA-256 and random numbers, over OpenSSL's libcrypto. Handles carry a tag
// so that a wrong or spent handle answers STATUS_INVALID_HANDLE, as Windows does.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "winsim/control.h"
#include "winsim/win32_api.h"

namespace {

const ULONG kObjectLength = 0x13e;  // what the caller must lend the hash (Vista's rule)
const ULONG kDigestLength = 32;

struct Algorithm {
    uint32_t tag = 0x53484132;  // "SHA2"
    bool random = false;        // the RNG provider: random numbers, no hashes
};

struct Hash {
    uint32_t tag = 0x48415348;  // "HASH"
    EVP_MD_CTX* context = nullptr;
    bool finished = false;
};

Algorithm* algorithm(BCRYPT_HANDLE h) {
    auto* a = static_cast<Algorithm*>(h);
    return a && a->tag == Algorithm().tag ? a : nullptr;
}

Hash* hash(BCRYPT_HANDLE h) {
    auto* x = static_cast<Hash*>(h);
    return x && x->tag == Hash().tag ? x : nullptr;
}

bool sameName(LPCWSTR a, const wchar_t* b) { return a && std::wcscmp(a, b) == 0; }

}  // namespace

extern "C" {

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* phAlgorithm, LPCWSTR pszAlgId, LPCWSTR, ULONG dwFlags) {
    if (!phAlgorithm || !pszAlgId || dwFlags != 0) return STATUS_INVALID_PARAMETER;
    const winsim::Machine* machine = winsim::Machine::currentOrNull();
    if (sameName(pszAlgId, BCRYPT_RNG_ALGORITHM)) {
        auto* a = new Algorithm;
        a->random = true;
        *phAlgorithm = a;
        return STATUS_SUCCESS;
    }
    if (!sameName(pszAlgId, BCRYPT_SHA256_ALGORITHM) || (machine && !machine->sha256Available)) return STATUS_NOT_FOUND;
    *phAlgorithm = new Algorithm;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE hObject, LPCWSTR pszProperty, PUCHAR pbOutput, ULONG cbOutput,
                                  ULONG* pcbResult, ULONG) {
    if (!algorithm(hObject) && !hash(hObject)) return STATUS_INVALID_HANDLE;
    if (!pszProperty || !pcbResult) return STATUS_INVALID_PARAMETER;
    ULONG value;
    if (sameName(pszProperty, BCRYPT_OBJECT_LENGTH))
        value = kObjectLength;
    else if (sameName(pszProperty, BCRYPT_HASH_LENGTH))
        value = kDigestLength;
    else
        return STATUS_NOT_SUPPORTED;
    *pcbResult = sizeof value;
    if (!pbOutput) return STATUS_SUCCESS;
    if (cbOutput < sizeof value) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(pbOutput, &value, sizeof value);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE* phHash, PUCHAR pbHashObject,
                                 ULONG cbHashObject, PUCHAR pbSecret, ULONG cbSecret, ULONG dwFlags) {
    if (!algorithm(hAlgorithm) || algorithm(hAlgorithm)->random) return STATUS_INVALID_HANDLE;
    if (!phHash || pbSecret || cbSecret || dwFlags) return STATUS_INVALID_PARAMETER;
    if (pbHashObject && cbHashObject < kObjectLength) return STATUS_BUFFER_TOO_SMALL;
    auto* h = new Hash;
    h->context = EVP_MD_CTX_new();
    if (!h->context || EVP_DigestInit_ex(h->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(h->context);
        delete h;
        return STATUS_NO_MEMORY;
    }
    *phHash = h;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput, ULONG dwFlags) {
    Hash* h = hash(hHash);
    if (!h || h->finished) return STATUS_INVALID_HANDLE;
    if (dwFlags || (!pbInput && cbInput)) return STATUS_INVALID_PARAMETER;
    return EVP_DigestUpdate(h->context, pbInput, cbInput) == 1 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput, ULONG dwFlags) {
    Hash* h = hash(hHash);
    if (!h || h->finished) return STATUS_INVALID_HANDLE;
    if (!pbOutput || cbOutput != kDigestLength || dwFlags) return STATUS_INVALID_PARAMETER;
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(h->context, pbOutput, &size) != 1 || size != kDigestLength) return STATUS_INVALID_PARAMETER;
    h->finished = true;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash) {
    Hash* h = hash(hHash);
    if (!h) return STATUS_INVALID_HANDLE;
    EVP_MD_CTX_free(h->context);
    h->tag = 0;
    delete h;
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
    if (!a || !a->random) return STATUS_INVALID_HANDLE;
    if ((!pbBuffer && cbBuffer) || dwFlags) return STATUS_INVALID_PARAMETER;
    if (cbBuffer && RAND_bytes(pbBuffer, static_cast<int>(cbBuffer)) != 1) return STATUS_UNSUCCESSFUL;
    return STATUS_SUCCESS;
}

}  // extern "C"
