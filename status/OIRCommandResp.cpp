#include "status/OIRCommandResp.h"

#include <cstring>

const std::array<const char*, kOirDeviceCodes> kOirDeviceWords = {
    "Input",                  // 1
    "Output",                 // 2
    "Internal",               // 3
    "Duplex",                 // 4
    "External",               // 5
    "",                       // 6
    "Device",                 // 7
    "Supplies",               // 8
    "Logical Unit/Emulator",  // 9
    "Cover",                  // 10
    "Option",                 // 11
    "Port",                   // 12
    "Scanner",                // 13
    "Kvo Framework",          // 14
    "Kvo Application",        // 15
    "Unknown",                // 16
};

const std::array<const char*, kOirStateCodes> kOirStateWords = {
    "Open",                     // 1
    "Closed",                   // 2
    "Missing",                  // 3
    "Low",                      // 4
    "Empty",                    // 5
    "Nearly  Full",             // 6
    "Full",                     // 7
    "Jam",                      // 8
    "",                         // 9
    "",                         // 10
    "Abnormal",                 // 11
    "Defective",                // 12
    "Unsupported",              // 13
    "Unlicensed",               // 14
    "Abnormal",                 // 15
    "Power",                    // 16
    "Invalid",                  // 17
    "Attached",                 // 18
    "Unattached",               // 19
    "Lost",                     // 20
    "Maintenance",              // 21
    "Level Change",             // 22
    "Disabled",                 // 23
    "Supply Jam",               // 24
    "Unformatted",              // 25
    "Software Error",           // 26
    "Font Error",               // 27
    "Priming Error",            // 28
    "Paper Info",               // 29
    "Too Many",                 // 30
    "Page Error",               // 31
    "Jobs",                     // 32
    "Offline",                  // 33
    "Operation Failed",         // 34
    "Communication",            // 35
    "Incorrect Installation",   // 36
    "Expired",                  // 37
    "Paper Reload",             // 38
    "Nearly Expired",           // 39
    "Refilled",                 // 40
    "Exhausted",                // 41
    "NearlyExhausted",          // 42
    "Corrupted",                // 43
    "Uncalibrated",             // 44
    "Configuration Changed",    // 45
    "Calibrating/Aligning",     // 46
    "Setup Required",           // 47
    "Incorrect Media in Tray",  // 48
    "Getting Low/Nearly Low",   // 49
    "First Low",                // 50
    "Nearly Empty Post 1",      // 51
    "Nearly Empty Post 2",      // 52
    "Nearly Empty Pre 1",       // 53
    "Nearly Empty Pre 2",       // 54
    "Nearly Empty",             // 55
    "Overfilled",               // 56
    "Region Mismatch",          // 57
    "Locked",                   // 58
    "Early Warning",            // 59
    "Beta Version",             // 60
};

int OIRCommandResp::ParseOIRResponse(const uint8_t* data, uint16_t len, int* count) {
    records.clear();
    recordCount = 0;
    if (count != nullptr) *count = 0;
    if (data == nullptr || len < kOirMinReply || data[0] != 0xA5) return -1;
    startByte = data[0];
    length = {data[1], data[2]};
    flags = data[3];
    command = data[4];
    parameter = data[5];
    const uint8_t declared = data[6];

    size_t pos = 7;
    records.reserve(declared);
    for (int i = 0; i < declared; ++i) {
        if (pos + kOirRecordHeader > len) break;  // header past the bytes read
        size_t recordLength = data[pos + 3];
        // A length below the header would make the next record overlap this
        // one (0 repeats it); past the bytes read it cannot be copied.
        if (recordLength < kOirRecordHeader || pos + recordLength > len) break;
        std::array<uint8_t, kOirSlotSize> slot{};
        std::memcpy(slot.data(), data + pos, kOirRecordHeader);
        std::memcpy(slot.data() + kOirRecordHeader, data + pos, recordLength);  // <= 255
        records.push_back(slot);
        pos += recordLength;
    }
    recordCount = static_cast<uint8_t>(records.size());
    if (count != nullptr) *count = static_cast<int>(records.size());
    return 1;
}

void OIRCommandResp::mappedString(std::vector<std::string>* texts) const {
    if (texts == nullptr) return;
    size_t n = records.size() < texts->size() ? records.size() : texts->size();
    for (size_t k = 0; k < n; ++k) {
        int device = records[k][0];
        int state = records[k][2];
        if (device < 1 || device > kOirDeviceCodes || state < 1 || state > kOirStateCodes) continue;
        std::string text = std::string(kOirDeviceWords[static_cast<size_t>(device - 1)]) +
                           kOirStateWords[static_cast<size_t>(state - 1)];
        if (text.size() >= kOirTextSize) text.resize(kOirTextSize - 1);
        (*texts)[k] = std::move(text);
    }
}
