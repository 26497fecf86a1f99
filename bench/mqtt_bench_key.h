// The session key of the MQTT benchmarks: AES-128-CBC with a fixed key and IV, set by the host
// from its key-search event, and the client side's encryption with OpenSSL's EVP directly.
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "morva/MorvaMqtt.h"

namespace mqttbench {

const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const uint8_t kIV[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

inline std::vector<uint8_t> EvpEncrypt(const std::vector<uint8_t> &plain) {
    std::vector<uint8_t> out(plain.size() + 16);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int n1 = 0, n2 = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, kIV);
    EVP_EncryptUpdate(ctx, out.data(), &n1, plain.data(), int(plain.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n1 + n2));
    return out;
}

// Sets kKey and kIV on the session of a MSG_PRIVATE_SESSION_KEY_SEARCH event.
inline void SetSessionKey(MORVA_MQTT_MSG *pMsg) {
    BYTE rec[97] = {};
    std::copy(kKey, kKey + 16, rec);
    const char hex[] = "000102030405060708090a0b0c0d0e0f";
    std::copy(hex, hex + 32, rec + 64);
    rec[96] = 0;  // AES-128-CBC
    pMsg->fnSetInfo(MQTT_CMD_SETINFO_SESSIONKEY_AND_IV, rec, sizeof(rec), pMsg->pSession);
}

}  // namespace mqttbench
