#include "status/NPAParser.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "status/NPAValidator.h"

namespace {

constexpr size_t kMaxPath = 256;

// True when `width` bytes at `offset` from pos lie inside the block.
bool fits(const AlertBlock& block, size_t pos, size_t offset, size_t width) {
    return pos <= block.size && offset <= block.size - pos && width <= block.size - pos - offset;
}

bool readNumber(const AlertBlock& block, size_t pos, size_t offset, int width, uint64_t* value) {
    if (width < 0 || !fits(block, pos, offset, static_cast<size_t>(width))) return false;
    *value = HexStrToLong(block.data + pos, static_cast<long>(offset), width);
    return true;
}

size_t itemHead(const AlertWidths& w) {
    return static_cast<size_t>(w.idWidth + w.typeWidth);
}

// Steps over an item whose value length (valueLengthWidth) follows its head.
bool skipValue(const AlertBlock& block, size_t& pos, const AlertWidths& w, uint64_t* length) {
    uint64_t v = 0;
    if (!readNumber(block, pos, itemHead(w), w.valueLengthWidth, &v)) return false;
    size_t head = itemHead(w) + static_cast<size_t>(w.valueLengthWidth);
    if (v > block.size || !fits(block, pos, head, static_cast<size_t>(v))) return false;
    *length = v;
    pos += head + static_cast<size_t>(v);
    return true;
}

// The number behind `key` inside [group, group + length), as atoi reads it
// (optional sign, digits); 0 when the key is absent.  Large values are held at
// 1000 so that they fail the width check instead of overflowing.
int keyValue(std::string_view group, std::string_view key) {
    size_t at = group.find(key);
    if (at == std::string_view::npos) return 0;
    size_t i = at + key.size();
    while (i < group.size() && (group[i] == ' ' || group[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < group.size() && (group[i] == '+' || group[i] == '-')) negative = group[i++] == '-';
    int value = 0;
    while (i < group.size() && group[i] >= '0' && group[i] <= '9') {
        if (value < 1000) value = value * 10 + (group[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}

bool validWidth(int width) {
    return width >= 0 && width <= kAlertMaxFieldWidth;
}

// Path text of the pattern filled with the current numbers.
template <typename... Args>
bool pathIs(const char* path, const char* pattern, Args... numbers) {
    char expected[kMaxPath];
    int n = std::snprintf(expected, sizeof expected, pattern, numbers...);
    return n > 0 && static_cast<size_t>(n) < sizeof expected && std::strcmp(path, expected) == 0;
}

template <size_t N>
void storeText(std::array<char, N>& field, const std::array<char, kAlertTextField>& scratch) {
    field.fill(0);
    decodeString(scratch.data(), field.data(), field.size());
}

PSSDALERTDETAIL* entryAt(PSSDALERTINFO* alert, int entryNumber) {
    if (alert == nullptr || entryNumber < 1) return nullptr;
    size_t index = static_cast<size_t>(entryNumber) - 1;
    return index < alert->entries.size() ? &alert->entries[index] : nullptr;
}

}  // namespace

uint64_t HexStrToLong(const uint8_t* base, long offset, int width) {
    if (width <= 0) return 0;
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | base[offset + i];
    return value;
}

int getAlertType(const uint8_t* response) {
    uint8_t bits = response[kAlertClassOffset];
    if (bits & 0x01) return kAlertClassError;
    if (bits & 0x02) return kAlertClassWarning;
    return kAlertClassOther;
}

size_t decodeString(const char* source, char* destination, size_t capacity) {
    if (capacity == 0) return 0;
    size_t n = strnlen(source, capacity - 1);
    std::memcpy(destination, source, n);
    destination[n] = '\0';
    return n;
}

bool GetNoOfElement(const AlertBlock& block, size_t& pos, const AlertWidths& w, uint64_t* count) {
    if (!readNumber(block, pos, itemHead(w), w.countWidth, count)) return false;
    size_t head = itemHead(w) + static_cast<size_t>(w.countWidth + w.containerLengthWidth);
    if (!fits(block, pos, head, 0)) return false;
    pos += head;
    return true;
}

bool GetItemInfo(const AlertBlock& block, size_t pos, const AlertWidths& w, int* identifier,
                 int* type) {
    uint64_t id = 0;
    uint64_t t = 0;
    if (!readNumber(block, pos, 0, w.idWidth, &id)) return false;
    if (!readNumber(block, pos, static_cast<size_t>(w.idWidth), w.typeWidth, &t)) return false;
    *identifier = static_cast<int>(id & 0xFF);
    *type = static_cast<int>(t & 0xFF);
    return true;
}

bool ParseContainerInfo(const AlertBlock& block, size_t& pos, const AlertWidths& w) {
    uint64_t k = 0;
    size_t offset = itemHead(w) + static_cast<size_t>(w.countWidth);
    if (!readNumber(block, pos, offset, w.containerLengthWidth, &k)) return false;
    size_t head = offset + static_cast<size_t>(w.containerLengthWidth);
    if (k > block.size || !fits(block, pos, head, static_cast<size_t>(k))) return false;
    pos += head + static_cast<size_t>(k);
    return true;
}

bool ParseIntegerInfo(const AlertBlock& block, size_t& pos, const AlertWidths& w, uint64_t* value) {
    size_t start = pos;
    uint64_t v = 0;
    if (!skipValue(block, pos, w, &v)) return false;
    size_t valueAt = start + itemHead(w) + static_cast<size_t>(w.valueLengthWidth);
    *value = HexStrToLong(block.data, static_cast<long>(valueAt), static_cast<int>(v));
    return true;
}

bool ParseStringInformation(const AlertBlock& block, size_t& pos, const AlertWidths& w,
                            std::array<char, kAlertTextField>* scratch) {
    size_t start = pos;
    uint64_t v = 0;
    if (!skipValue(block, pos, w, &v)) return false;
    scratch->fill(0);
    size_t n = v < kAlertMaxText ? static_cast<size_t>(v) : kAlertMaxText;
    size_t textAt = start + itemHead(w) + static_cast<size_t>(w.valueLengthWidth);
    std::memcpy(scratch->data(), block.data + textAt, n);
    return true;
}

bool ParseUnknownDataType(const AlertBlock& block, size_t& pos, const AlertWidths& w) {
    uint64_t v = 0;
    return skipValue(block, pos, w, &v);
}

int ParseHeaderStringInfo(char* text, size_t length, AlertWidths* widths) {
    *widths = AlertWidths{};
    if (text == nullptr || length < 2) return -1;
    // Group 1 starts behind "P{"; each later group two characters behind the
    // '}' that closed the one before.
    std::array<std::string_view, 3> groups;
    size_t start = 2;
    for (size_t g = 0; g < groups.size(); ++g) {
        if (start > length) return -1;
        void* close = std::memchr(text + start, '}', length - start);
        if (close == nullptr) return -1;
        size_t end = static_cast<size_t>(static_cast<char*>(close) - text);
        text[end] = '\0';
        groups[g] = std::string_view(text + start, end - start);
        start = end + 3;
    }
    widths->idWidth = keyValue(groups[0], "ID:");
    widths->typeWidth = keyValue(groups[0], "DT:");
    widths->countWidth = keyValue(groups[1], "NE:");
    widths->containerLengthWidth = keyValue(groups[1], "LD:");
    widths->valueLengthWidth = keyValue(groups[2], "LD:");
    if (!validWidth(widths->idWidth) || !validWidth(widths->typeWidth) ||
        !validWidth(widths->countWidth) || !validWidth(widths->containerLengthWidth) ||
        !validWidth(widths->valueLengthWidth)) {
        return -1;
    }
    return 0;
}

int ParseExtAlert(const char* path, const AlertBlock& block, size_t position, int a, int b,
                  PSSDALERTINFO* current, std::vector<PSSDALERTINFO>* alerts, int* count,
                  const AlertWidths& w, uint64_t& itemsLeft, int depth) {
    size_t pos = position;
    uint64_t elements = 0;
    if (!GetNoOfElement(block, pos, w, &elements)) return -1;

    std::array<char, kAlertTextField> scratch{};
    for (uint64_t i = 0; i < elements; ++i) {
        if (itemsLeft == 0) return -1;
        --itemsLeft;
        int identifier = 0;
        int type = 0;
        if (!GetItemInfo(block, pos, w, &identifier, &type)) return -1;
        char child[kMaxPath];
        int n = std::snprintf(child, sizeof child, "%s.%d", path,
                              static_cast<int>(static_cast<int8_t>(identifier)));
        // A path too long for the buffer cannot match any pattern; it is only stepped over.
        bool named = n > 0 && static_cast<size_t>(n) < sizeof child;
        if (!named) child[0] = '\0';
        const size_t before = pos;

        if (type == kAlertContainer) {
            if (named && pathIs(child, "1.2.%d", a + 1)) {
                if (alerts != nullptr) {
                    if (*count < 0 || static_cast<size_t>(*count) >= alerts->size()) return -1;
                    current = &(*alerts)[static_cast<size_t>(*count)];
                }
                ++*count;
                ++a;
            }
            if (named && pathIs(child, "1.2.%d.2.%d", a, b + 1)) {
                if (alerts != nullptr && current != nullptr) {
                    current->entries.emplace_back();
                    current->entryCount = current->entries.size();
                }
                ++b;
            }
            if (named && std::strstr(child, "1.2") != nullptr && depth < kAlertMaxDepth) {
                if (ParseExtAlert(child, block, pos, a, b, current, alerts, count, w, itemsLeft,
                                  depth + 1) == -1) {
                    return -1;
                }
            }
            if (!ParseContainerInfo(block, pos, w)) return -1;
        } else if (type == kAlertString) {
            if (!ParseStringInformation(block, pos, w, &scratch)) return -1;
            if (alerts != nullptr && current != nullptr && named) {
                if (pathIs(child, "1.2.%d.2.%d.3", a, b)) {
                    if (PSSDALERTDETAIL* entry = entryAt(current, b))
                        storeText(entry->text, scratch);
                } else if (pathIs(child, "1.2.%d.1.4.9", a)) {
                    storeText(current->text1_4_9, scratch);
                } else if (pathIs(child, "1.2.%d.1.4.10", a)) {
                    storeText(current->text1_4_10, scratch);
                }
            }
        } else if (type == kAlertInteger) {
            uint64_t value = 0;
            if (!ParseIntegerInfo(block, pos, w, &value)) return -1;
            if (alerts != nullptr && current != nullptr && named) {
                if (pathIs(child, "1.2.%d.2.%d.1", a, b)) {
                    if (PSSDALERTDETAIL* entry = entryAt(current, b)) entry->value = value;
                } else if (pathIs(child, "1.2.%d.1.1", a)) {
                    current->item1_1 = value;
                } else if (pathIs(child, "1.2.%d.1.2.1", a)) {
                    current->item1_2_1 = value;
                } else if (pathIs(child, "1.2.%d.1.2.2", a)) {
                    current->item1_2_2 = value;
                } else if (pathIs(child, "1.2.%d.1.3", a)) {
                    current->item1_3 = value;
                } else if (pathIs(child, "1.2.%d.1.4.2", a)) {
                    current->item1_4_2 = value;
                } else if (pathIs(child, "1.2.%d.1.4.3", a)) {
                    current->item1_4_3 = value;
                } else if (pathIs(child, "1.2.%d.4", a)) {
                    current->item4 = value;
                }
            }
        } else {
            if (!ParseUnknownDataType(block, pos, w)) return -1;
        }
        // An item that takes no bytes (all its widths 0) would let a huge element
        // count spin in place: such a tree is malformed.
        if (pos <= before) return -1;
    }
    return 0;
}

int ParseRawDataForAlerts(const uint8_t* block, size_t available,
                          std::vector<PSSDALERTINFO>* alerts, int* count) {
    if (block == nullptr || available < kAlertHeaderOffset + 2) return -1;
    if (block[kAlertHeaderOffset] != 'P' || block[kAlertHeaderOffset + 1] != '{') return -1;
    size_t size = static_cast<size_t>(twoByteSwap(block)) + 2;
    if (size > available || size <= kAlertTreeOffset) return -1;

    // The header parser writes terminators, so it gets a copy of the text; the
    // tree is read in place.
    std::vector<char> header(block + kAlertHeaderOffset, block + size);
    AlertWidths widths;
    if (ParseHeaderStringInfo(header.data(), header.size(), &widths) == -1) return -1;

    AlertBlock tree{block, size};
    PSSDALERTINFO* first = (alerts != nullptr && !alerts->empty()) ? &alerts->front() : nullptr;
    // Items the walk may visit.  A sound tree visits each item once, and every
    // item takes at least one byte; a container whose length is shorter than its
    // contents makes its parent walk them again, nested up to kAlertMaxDepth
    // deep, which without a bound takes exponential time (found by fuzzing: a
    // 484-byte answer held the status thread for half an hour).
    uint64_t itemsLeft = 4 * uint64_t{tree.size} + 64;
    return ParseExtAlert("1", tree, kAlertTreeOffset, 0, 0, first, alerts, count, widths,
                         itemsLeft);
}

int GetExtAlertInformation(const uint8_t* response, int length, std::vector<PSSDALERTINFO>* alerts,
                           int* count) {
    if (response == nullptr || alerts == nullptr || count == nullptr) return -1;
    alerts->clear();
    if (length <= static_cast<int>(kAlertBlockOffset) || response[0] != kNpaStartByte) return -1;
    const uint8_t* block = response + kAlertBlockOffset;
    size_t available = static_cast<size_t>(length) - kAlertBlockOffset;

    *count = 0;
    if (ParseRawDataForAlerts(block, available, nullptr, count) == -1) return -1;
    if (*count <= 0) return -1;

    alerts->resize(static_cast<size_t>(*count));
    *count = 0;
    if (ParseRawDataForAlerts(block, available, alerts, count) != 0 ||
        static_cast<size_t>(*count) != alerts->size()) {
        alerts->clear();
        *count = 0;
        return -1;
    }
    int alertClass = getAlertType(response);
    for (PSSDALERTINFO& alert : *alerts)
        alert.alertClass = alertClass;
    return 0;
}

std::string alertReportText(const PSSDALERTINFO& alert) {
    const char* text = nullptr;
    if (!alert.entries.empty() && alert.entries.front().text[0] != '\0') {
        text = alert.entries.front().text.data();
    } else if (alert.text1_4_9[0] != '\0') {
        text = alert.text1_4_9.data();
    }
    if (text == nullptr) return {};
    std::string out(text, strnlen(text, kAlertEntryTextField));
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    return out;
}

std::vector<std::string> errorAlertReportTexts(const uint8_t* response, int length) {
    std::vector<PSSDALERTINFO> alerts;
    int count = 0;
    if (GetExtAlertInformation(response, length, &alerts, &count) != 0) return {};
    if (count <= 0 || alerts[0].alertClass != kAlertClassError) return {};
    std::vector<std::string> texts;
    texts.reserve(alerts.size());
    for (const PSSDALERTINFO& alert : alerts)
        texts.push_back(alertReportText(alert));
    return texts;
}
