// Every Probe request the SDK sends to one device, one row each: the builder for each protocol,
// the type words its answer comes back with and their parsers, the block the answer fills, the
// sizes of the host's records and the exchange that fetches the device's random string first.
// The get and set commands of the exports and the reset types are numbered; the exchange, the
// activation, the network-parameter change and the lamp request are rows of their own. The
// service builds from the rows and dispatches answers by their type words; the controller takes
// the answer block and the exchange from them. Adding a command is adding its row.
#pragma once

#include <cstdint>
#include <vector>

#include "module/protocol/AnswerBlocks.h"
#include "module/protocol/MulticastProtocol_V31.h"

class TiXmlElement;

namespace ZEVA {

// The protocol byte of a protocol-3.0 device; every other value is protocol 3.1.
constexpr uint8_t PROTOCOL_30 = 1;

// Fills the answer's zeroed block and returns its answer code (the Result word's, 20, or -1).
// The protocol object is the one that sent the request, whose keys some answers need.
using AnswerParser = int (*)(CMulticastProtocol_V31 &protocol, const TiXmlElement *pRoot, uint8_t *pBlock);

// The exchange a request needs before it is sent.
enum Exchange : uint8_t {
    EXCHANGE_NONE,
    EXCHANGE_BY_DEVICE,   // the exchange of the device's protocol
    EXCHANGE_30,          // the protocol-3.0 exchange for every device: its 3.0 builder serves both
    EXCHANGE_30_DEVICES,  // only a protocol-3.0 device's; the 3.1 form needs no random string
    EXCHANGE_31_DEVICES,  // only a protocol-3.1 device's
};

struct ANSWER_WORD {
    const char *pWord;  // null: no more words
    AnswerParser parse;
};

constexpr int ANSWER_WORDS_MAX = 3;

struct DEVICE_COMMAND {
    uint32_t dwNumber;                     // the get or set command, the reset type; 0 for the others
    CMulticastProtocol::Builder build30;   // the request to a protocol-3.0 device
    CMulticastProtocol::Builder build31;   // to a protocol-3.1 device; null: refused (see dwUseInstead)
    const char *pWord;                     // the type word of the builders that serve several
    ANSWER_WORD answers[ANSWER_WORDS_MAX];
    AnswerKind kind;                       // the block the answer fills and the controller copies
    uint32_t dwInSize;                     // the host's input record of a set command; 0: no export sends it
    uint32_t dwOutSize;                    // the host's output record; 0: none is written
    Exchange exchange;
    uint32_t dwUseInstead;                 // for a protocol-3.1 device, the command that replaces this one
};

extern const DEVICE_COMMAND EXCHANGE_REQUEST;
extern const DEVICE_COMMAND ACTIVATE_REQUEST;
extern const DEVICE_COMMAND UPDATE_REQUEST;  // the network-parameter change

// The row of the number, or null when there is none.
const DEVICE_COMMAND *FindGetCommand(uint32_t dwCommand);
const DEVICE_COMMAND *FindSetCommand(uint32_t dwCommand);
const DEVICE_COMMAND *FindResetType(uint32_t dwResetType);

// Whether the request needs the device's random string first, and with which protocol's exchange.
bool NeedsExchange(Exchange exchange, uint8_t byDeviceProtocol, uint8_t *pExchangeProtocol);

// What an answer's type word leads to.
struct ANSWER_ROUTE {
    const char *pWord;
    AnswerParser parse;
    AnswerKind kind;
};

// The route of an answer's type word, or null for a word that answers no request. A lookup in a
// sorted index of every row's words.
const ANSWER_ROUTE *FindAnswer(const char *pWord);

// Every row, numbered or not, in the order of the tables.
std::vector<const DEVICE_COMMAND *> AllDeviceCommands();

}  // namespace ZEVA
