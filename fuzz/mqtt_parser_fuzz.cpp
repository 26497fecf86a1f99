// The MQTT parser on a byte stream cut where the input says: the first byte gives the number of
// cuts (up to 7), the next bytes their positions; every frame then goes through the parse
// functions and its parts are read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "GlobalCtrl/CoreGlobalCtrl.h"
#include "transport/mqtt/MqttParser.h"

using namespace Vorezi;

namespace {

// Reads every byte of a part, so that a part past the frame shows up under ASan.
unsigned Touch(const BYTE *p, DWORD len) {
    unsigned sum = 0;
    for (DWORD i = 0; p && i < len; i++)
        sum += p[i];
    return sum;
}

void ParseFrame(CMqttParser &parser, MqttFrame &frame) {
    char field[MQTT_FIELD_LEN + 1];
    if (parser.CheckProtocolName(frame) == MQTT_CHECK_PROTOCOL_MQTT &&
        CMqttParser::GetConnectClass(frame) != MQTT_CONNECT_NONE) {
        if (parser.ParserConnectData(frame) == MQTT_CONNECT_ACCEPTED) {
            CMqttParser::CopyFirstPart(frame, field);
            CMqttParser::CopyUserName(frame, field);
            if (CMqttParser::GetWillFlag(frame))
                Touch(CMqttParser::GetSecondPart(frame), frame.dwSecondLen);
        }
        return;
    }
    if (parser.ParsePackage(frame)) {
        Touch(CMqttParser::GetSecondPart(frame), frame.dwSecondLen);
        CMqttParser::CopyFirstPart(frame, field);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const size_t cuts = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t *stream = data + 1 + cuts;
    const size_t len = size - 1 - cuts;
    std::vector<size_t> points;
    for (size_t i = 0; i < cuts; i++)
        points.push_back(len ? data[1 + i] * len / 256 : 0);
    points.push_back(len);

    CMqttParser parser(1);
    size_t pos = 0;
    for (size_t point : points) {
        if (point < pos)
            continue;
        if (!parser.ParseByteStream(stream + pos, DWORD(point - pos)))
            parser.Reset();
        pos = point;
        MqttFrame frame;
        while (parser.Dequeue(&frame))
            ParseFrame(parser, frame);
    }
    return 0;
}
