// Builds printer answers to NPA status requests: the extended-alert block (the
// self-describing item tree), the response around it, its split into NPA packets
// and datagrams, and the operator-intervention reply.
//
// Written from the wire format alone, independently of the filter's parser, so
// that tests can check one against the other.
//
// Response layout (all numbers big-endian):
//   bytes 0-24   first packet header: A5, length, flags 0x50, E0 73 03 08 00 00,
//                byte 10 = class bits (1 errors, 2 warnings), zeros to byte 24
//   bytes 25..   alert block: length B (2 bytes; block = B + 2 bytes), 00 00,
//                header text "P{ID:1,DT:1},C{NE:2,LD:2},V{LD:2}" padded with
//                zeros to offset 38, then the root container item
// Item: identifier (idWidth), type (typeWidth; 0 container, 1 integer, 2 string),
//   container: element count (countWidth), content length (containerLengthWidth),
//              the elements;
//   other:     value length (valueLengthWidth), the value bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace printersim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kClassError = 0x01;
inline constexpr uint8_t kClassWarning = 0x02;

// One node of the alert tree.
struct AlertItem {
    enum Type : int { kContainer = 0, kInteger = 1, kString = 2, kOther = 3 };
    int id = 0;
    int type = kContainer;
    uint64_t value = 0;               // integer
    int valueLength = 2;              // integer: bytes of the value
    Bytes bytes;                      // string text or other-type bytes
    std::vector<AlertItem> children;  // container
    // Overrides for malformed trees (-1: the true value).
    int64_t declaredCount = -1;
    int64_t declaredLength = -1;

    static AlertItem container(int id, std::vector<AlertItem> children);
    static AlertItem integer(int id, uint64_t value, int valueLength = 2);
    static AlertItem string(int id, const std::string& text);
    static AlertItem other(int id, Bytes bytes);
};

// Field widths announced by the block header and used to encode items.
struct BlockLayout {
    int idWidth = 1;
    int typeWidth = 1;
    int countWidth = 2;
    int containerLengthWidth = 2;
    int valueLengthWidth = 2;
    // Leave the "DT:" key out of the header (items then carry no type bytes).
    bool omitTypeKey = false;
    // Header text to use instead of the one made from the widths.
    std::string headerOverride;
};

struct SimDetail {
    uint64_t value = 0;
    std::string text;
};

// One alert as a printer reports it: 1.2.a with its numeric items, its own texts
// (1.2.a.1.4.9 and .10) and its detail entries 1.2.a.2.b (value .1, text .3).
struct SimAlert {
    std::vector<SimDetail> details;
    std::string text1_4_9;
    std::string text1_4_10;
    uint64_t item1_1 = 0, item1_2_1 = 0, item1_2_2 = 0, item1_3 = 0;
    uint64_t item1_4_2 = 0, item1_4_3 = 0, item4 = 0;
    int number = 0;  // identifier under 1.2; 0 = its position (1, 2, ...)

    // An alert with one detail entry carrying `text`.
    static SimAlert withText(const std::string& text, uint64_t value = 0);
};

// The tree of the alerts: root 1 { 1.1 integer, 1.2 { alerts } }.
AlertItem alertTree(const std::vector<SimAlert>& alerts);

// Encodes one item with the layout's widths.
Bytes encodeItem(const AlertItem& item, const BlockLayout& layout);
// The header text for a layout.
std::string headerText(const BlockLayout& layout);
// A whole raw block: length, 2 bytes, header text at 4, tree at 38.
Bytes alertBlock(const AlertItem& root, const BlockLayout& layout = {});
// An assembled response: the 25-byte first-packet header (class bits at 10) + block.
Bytes alertResponse(const Bytes& block, uint8_t classBits);
Bytes alertResponse(const std::vector<SimAlert>& alerts, uint8_t classBits,
                    const BlockLayout& layout = {});

// Splits an assembled response into `packets` NPA packets (continue flag on all
// but the last): the first carries the first bytes, header included; every
// further one is A5, length, flags, E0 and the next bytes.  A filter that glues
// the continuation data behind the first packet gets the response back.
std::vector<Bytes> splitIntoPackets(const Bytes& response, int packets);

// Reply header of a datagram answering a request: the request's 8-byte transport
// header, then its identifier bytes (4-7) again at 8-11.
Bytes replyHeader(const Bytes& request);

// A registration answer packet (category 7), as a printer sends it back.
Bytes registrationReplyPacket(bool registering);

// An operator-intervention record and reply packet.
struct OirRecord {
    uint8_t device = 0;       // 1-16
    uint8_t state = 0;        // 1-60
    Bytes extra;              // record bytes behind the 4-byte header
    int declaredLength = -1;  // record length byte; -1 = true length
};
Bytes oirReplyPacket(const std::vector<OirRecord>& records, int declaredCount = -1);

std::string hex(const Bytes& bytes);

}  // namespace printersim
