// The output blocks of the request answers: each answer parser fills one block of its kind, the
// dispatcher hands it to the controller, and the waiting request copies from it.
#pragma once

#include <cstdint>

namespace ZEVA {

enum AnswerKind : int {
    ANSWER_NONE = -1,  // the answer carries no data beyond its Result
    ANSWER_EXCHANGE_CODE = 0,
    ANSWER_NET_PARAM,       // retry block of a network-parameter change
    ANSWER_COMMON,          // retry block of the resets and settings
    ANSWER_DEVICE_CODE,
    ANSWER_ENCRYPT_STRING,
    ANSWER_UNLOCK_CODE,
    ANSWER_GUID,
    ANSWER_SECURITY_QUESTION,
    ANSWER_BIND_LIST,
    ANSWER_SELF_CHECK,
    ANSWER_QRCODES,
    ANSWER_UNBIND_STATUS,
    ANSWER_RESET_TYPE,
    ANSWER_PHONE_QRCODE,
    ANSWER_SET_QUESTION,    // retry count and lock time of set command 7
    ANSWER_KIND_NUM
};

// Bytes of each block, by kind.
constexpr uint32_t ANSWER_BLOCK_SIZE[ANSWER_KIND_NUM] = {644, 128, 128, 1028, 1540, 388,  900, 13076,
                                                         6288, 212, 1548, 128, 76,  1444, 256};
constexpr uint32_t ANSWER_BLOCK_MAX = 13076;

// Offsets inside the blocks that the controller reads.
constexpr uint32_t EXCHANGE_CODE_MAX = 511;  // characters of the exchange code text at offset 4
constexpr uint32_t GUID_MAX = 512;
constexpr uint32_t GUID_RETRY_OFFSET = 516;
constexpr uint32_t QR_TEXT_OFFSET = 12;
constexpr uint32_t QR_MAILBOX_OFFSET = 1036;
constexpr uint32_t QR_SERVICE_MAILBOX_OFFSET = 1164;

// Answer codes beyond the device's Result words.
constexpr int ANSWER_WAITING = -1;
constexpr int ANSWER_TOO_LONG = 20;
constexpr int ANSWER_DECRYPT_FAILED = 21;  // an answer of ours that does not decrypt
constexpr int ANSWER_NOT_SENT = 100;

}  // namespace ZEVA
