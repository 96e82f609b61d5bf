#include "tools/printersim/alertbuilder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace printersim {

namespace {

constexpr size_t kBlockAt = 25;
constexpr size_t kHeaderAt = 4;
constexpr size_t kTreeAt = 38;

void putNumber(Bytes& out, uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out.push_back(i >= 8 ? 0 : static_cast<uint8_t>(value >> (8 * i)));
    }
}

void setLength16(Bytes& packet) {
    size_t field = packet.size() - 3;
    packet[1] = static_cast<uint8_t>(field >> 8);
    packet[2] = static_cast<uint8_t>(field);
}

}  // namespace

AlertItem AlertItem::container(int id, std::vector<AlertItem> children) {
    AlertItem item;
    item.id = id;
    item.type = kContainer;
    item.children = std::move(children);
    return item;
}

AlertItem AlertItem::integer(int id, uint64_t value, int valueLength) {
    AlertItem item;
    item.id = id;
    item.type = kInteger;
    item.value = value;
    item.valueLength = valueLength;
    return item;
}

AlertItem AlertItem::string(int id, const std::string& text) {
    AlertItem item;
    item.id = id;
    item.type = kString;
    item.bytes.assign(text.begin(), text.end());
    return item;
}

AlertItem AlertItem::other(int id, Bytes bytes) {
    AlertItem item;
    item.id = id;
    item.type = kOther;
    item.bytes = std::move(bytes);
    return item;
}

SimAlert SimAlert::withText(const std::string& text, uint64_t value) {
    SimAlert alert;
    alert.details.push_back({value, text});
    return alert;
}

AlertItem alertTree(const std::vector<SimAlert>& alerts) {
    std::vector<AlertItem> list;
    int position = 0;
    for (const SimAlert& a : alerts) {
        ++position;
        std::vector<AlertItem> info4 = {AlertItem::integer(2, a.item1_4_2),
                                        AlertItem::integer(3, a.item1_4_3)};
        if (!a.text1_4_9.empty()) info4.push_back(AlertItem::string(9, a.text1_4_9));
        if (!a.text1_4_10.empty()) info4.push_back(AlertItem::string(10, a.text1_4_10));
        AlertItem info = AlertItem::container(
            1, {AlertItem::integer(1, a.item1_1),
                AlertItem::container(
                    2, {AlertItem::integer(1, a.item1_2_1), AlertItem::integer(2, a.item1_2_2)}),
                AlertItem::integer(3, a.item1_3), AlertItem::container(4, std::move(info4))});
        std::vector<AlertItem> entries;
        int b = 0;
        for (const SimDetail& d : a.details) {
            ++b;
            entries.push_back(AlertItem::container(
                b, {AlertItem::integer(1, d.value), AlertItem::string(3, d.text)}));
        }
        list.push_back(
            AlertItem::container(a.number != 0 ? a.number : position,
                                 {std::move(info), AlertItem::container(2, std::move(entries)),
                                  AlertItem::integer(4, a.item4)}));
    }
    return AlertItem::container(
        1, {AlertItem::integer(1, 0), AlertItem::container(2, std::move(list))});
}

Bytes encodeItem(const AlertItem& item, const BlockLayout& layout) {
    Bytes out;
    const int typeWidth = layout.omitTypeKey ? 0 : layout.typeWidth;
    putNumber(out, static_cast<uint64_t>(item.id) & 0xFF, layout.idWidth);
    putNumber(out, static_cast<uint64_t>(item.type), typeWidth);
    if (item.type == AlertItem::kContainer) {
        Bytes content;
        for (const AlertItem& child : item.children) {
            Bytes c = encodeItem(child, layout);
            content.insert(content.end(), c.begin(), c.end());
        }
        uint64_t count = item.declaredCount >= 0 ? static_cast<uint64_t>(item.declaredCount)
                                                 : item.children.size();
        uint64_t length =
            item.declaredLength >= 0 ? static_cast<uint64_t>(item.declaredLength) : content.size();
        putNumber(out, count, layout.countWidth);
        putNumber(out, length, layout.containerLengthWidth);
        out.insert(out.end(), content.begin(), content.end());
        return out;
    }
    Bytes value;
    if (item.type == AlertItem::kInteger) {
        putNumber(value, item.value, item.valueLength);
    } else {
        value = item.bytes;
    }
    uint64_t length =
        item.declaredLength >= 0 ? static_cast<uint64_t>(item.declaredLength) : value.size();
    putNumber(out, length, layout.valueLengthWidth);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

std::string headerText(const BlockLayout& layout) {
    if (!layout.headerOverride.empty()) return layout.headerOverride;
    char text[96];
    if (layout.omitTypeKey) {
        std::snprintf(text, sizeof text, "P{ID:%d},C{NE:%d,LD:%d},V{LD:%d}", layout.idWidth,
                      layout.countWidth, layout.containerLengthWidth, layout.valueLengthWidth);
    } else {
        std::snprintf(text, sizeof text, "P{ID:%d,DT:%d},C{NE:%d,LD:%d},V{LD:%d}", layout.idWidth,
                      layout.typeWidth, layout.countWidth, layout.containerLengthWidth,
                      layout.valueLengthWidth);
    }
    return text;
}

Bytes alertBlock(const AlertItem& root, const BlockLayout& layout) {
    Bytes block(kTreeAt, 0);
    std::string header = headerText(layout);
    // The tree starts at 38 whatever the header; a longer header is cut there.
    size_t n = std::min(header.size(), kTreeAt - kHeaderAt);
    std::copy_n(header.begin(), n, block.begin() + kHeaderAt);
    Bytes tree = encodeItem(root, layout);
    block.insert(block.end(), tree.begin(), tree.end());
    size_t b = block.size() - 2;
    block[0] = static_cast<uint8_t>(b >> 8);
    block[1] = static_cast<uint8_t>(b);
    return block;
}

Bytes alertResponse(const Bytes& block, uint8_t classBits) {
    // Sized once and filled in place: growing a short initialiser list with
    // resize() and insert() makes GCC 12's -O3 warn about bounds it misjudges.
    const uint8_t head[] = {0xA5, 0x00, 0x00, 0x50, 0xE0, 0x73, 0x03, 0x08, 0x00, 0x00, classBits};
    Bytes response(kBlockAt + block.size(), 0);
    std::copy(std::begin(head), std::end(head), response.begin());
    std::copy(block.begin(), block.end(), response.begin() + kBlockAt);
    setLength16(response);
    return response;
}

Bytes alertResponse(const std::vector<SimAlert>& alerts, uint8_t classBits,
                    const BlockLayout& layout) {
    return alertResponse(alertBlock(alertTree(alerts), layout), classBits);
}

std::vector<Bytes> splitIntoPackets(const Bytes& response, int packets) {
    // Keep the first packet's header (25 bytes and a little) together and give
    // every continuation at least one byte.
    const size_t firstMin = kBlockAt + 1;
    size_t total = response.size();
    size_t maxPackets = total > firstMin ? 1 + (total - firstMin) : 1;
    size_t n = packets < 1 ? 1 : std::min(static_cast<size_t>(packets), maxPackets);
    if (n == 1) return {response};

    size_t first = std::max(firstMin, total / n);
    if (total - first < n - 1) first = total - (n - 1);
    std::vector<Bytes> out;
    Bytes head(response.begin(), response.begin() + static_cast<long>(first));
    head[3] |= 0x20;
    setLength16(head);
    out.push_back(std::move(head));

    size_t rest = total - first;
    size_t pos = first;
    for (size_t j = 1; j < n; ++j) {
        size_t left = n - j;
        size_t chunk = rest / left;
        Bytes p = {0xA5, 0x00, 0x00, static_cast<uint8_t>(j + 1 < n ? 0x70 : 0x50), 0xE0};
        p.insert(p.end(), response.begin() + static_cast<long>(pos),
                 response.begin() + static_cast<long>(pos + chunk));
        setLength16(p);
        out.push_back(std::move(p));
        pos += chunk;
        rest -= chunk;
    }
    return out;
}

Bytes replyHeader(const Bytes& request) {
    // The request's first 8 bytes (zero-padded), then its bytes 4 to 7 again.
    Bytes header(12, 0);
    std::copy_n(request.begin(), std::min<size_t>(8, request.size()), header.begin());
    std::copy_n(header.begin() + 4, 4, header.begin() + 8);
    return header;
}

Bytes registrationReplyPacket(bool registering) {
    return {0xA5,
            0x00,
            0x0F,
            0x50,
            0xE0,
            0x73,
            0x07,
            0x08,
            0x00,
            0x00,
            static_cast<uint8_t>(registering ? 1 : 0),
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            0x01,
            0x00};
}

Bytes oirReplyPacket(const std::vector<OirRecord>& records, int declaredCount) {
    Bytes packet = {0xA5,
                    0x00,
                    0x00,
                    0x50,
                    0x04,
                    0x06,
                    static_cast<uint8_t>(declaredCount >= 0 ? declaredCount : records.size())};
    for (const OirRecord& r : records) {
        size_t length = 4 + r.extra.size();
        packet.push_back(r.device);
        packet.push_back(0x00);
        packet.push_back(r.state);
        packet.push_back(static_cast<uint8_t>(r.declaredLength >= 0 ? r.declaredLength : length));
        packet.insert(packet.end(), r.extra.begin(), r.extra.end());
    }
    setLength16(packet);
    return packet;
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += two;
    }
    return out;
}

}  // namespace printersim
