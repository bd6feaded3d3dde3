#include "converter/metadata/Xmp.h"

#include <cstring>

namespace Xmp {

std::vector<uint8_t> ForResult(std::vector<uint8_t> packet) {
    static const char kName[] = "tiff:Orientation";
    const size_t nameLength = sizeof kName - 1;
    for (size_t at = 0; at + nameLength < packet.size(); ++at) {
        if (std::memcmp(packet.data() + at, kName, nameLength) != 0) continue;
        size_t i = at + nameLength;
        // tiff:Orientation="6", tiff:Orientation='6' or <tiff:Orientation>6<
        while (i < packet.size() && (packet[i] == ' ' || packet[i] == '\t' || packet[i] == '\r' || packet[i] == '\n'))
            ++i;
        if (i < packet.size() && packet[i] == '=') {
            ++i;
            while (i < packet.size() && (packet[i] == ' ' || packet[i] == '\t')) ++i;
            if (i < packet.size() && (packet[i] == '"' || packet[i] == '\'')) ++i;
            else continue;
        } else if (i < packet.size() && packet[i] == '>') {
            ++i;
        } else {
            continue;
        }
        if (i + 1 < packet.size() && packet[i] >= '1' && packet[i] <= '8' &&
            (packet[i + 1] == '"' || packet[i + 1] == '\'' || packet[i + 1] == '<'))
            packet[i] = '1';
    }
    return packet;
}

}  // namespace Xmp
