#include "status/NPAValidator.h"

#include <cstring>

#include "base/processstate.h"
#include "status/NPATHeader.h"

std::array<uint8_t, kValidBufferSize> validBuffer{};
NpaValidatorState npaValidatorState;

namespace {
const StateReset kResetValidator(npaValidatorReset);
}  // namespace

namespace {

// The packet identifier whose bytes, least significant first, are the
// monitor's identifier bytes.
constexpr uint64_t kMonitorPacketID =
    uint64_t{kNpaMonitorIdBytes[0]} | uint64_t{kNpaMonitorIdBytes[1]} << 8 |
    uint64_t{kNpaMonitorIdBytes[2]} << 16 | uint64_t{kNpaMonitorIdBytes[3]} << 24;

// Forgets a partly assembled response.
void dropResponse(NpaValidatorState& s) {
    s.firstresponse = true;
    s.setContinueFlag = false;
    s.validBufferCount = 0;
}

}  // namespace

void npaValidatorReset() {
    npaValidatorState = NpaValidatorState{};
    validBuffer.fill(0);
}

int AssembleNPACommand(const uint8_t* packet, uint8_t* destination, int length,
                       size_t destinationSize) {
    if (destination == nullptr || packet == nullptr || length < 0) return -1;
    if (destinationSize < static_cast<size_t>(length) + kNpaTransportHeaderSize) return -1;
    NPATHeaderReq header;
    header.setPacketID(kMonitorPacketID);
    header.CopyNPATHdrBytes(destination);
    std::memcpy(destination + kNpaTransportHeaderSize, packet, static_cast<size_t>(length));
    return length + static_cast<int>(kNpaTransportHeaderSize);
}

uint16_t twoByteSwap(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

int lengthofNPACommand(const uint8_t* packet) {
    if (packet[0] != kNpaStartByte) return 0;
    return twoByteSwap(packet + 1) + kNpaLengthFieldOverhead;
}

bool isContinueFlagset(const uint8_t* packet) {
    return packet[0] == kNpaStartByte && (packet[3] & kNpaContinueFlag) != 0;
}

int requestCategoryofExtendedAlerts(const uint8_t* packet) {
    int category = packet[6];
    if (category == kNpaCategoryAlerts1 || category == kNpaCategoryExtAlerts ||
        category == kNpaCategoryRegistration) {
        return category;
    }
    return kNpaCategoryOther;
}

bool isAckIDValid(const uint8_t* reply, size_t length) {
    if (reply == nullptr || length < kNpaReplyHeaderSize) return false;
    return std::memcmp(reply + 8, kNpaMonitorIdBytes.data(), kNpaMonitorIdBytes.size()) == 0;
}

bool ValidateReceivedResponse(const uint8_t* input, uint8_t* output, int inputLength,
                              int* assembledLength, int* doneFlag) {
    NpaValidatorState& s = npaValidatorState;
    if (input == nullptr || output == nullptr || inputLength < 0) inputLength = 0;
    s.receivedBufferSize = inputLength;
    const int size = inputLength;
    int pos = 0;
    bool result = false;

    // pos < size - 5 leaves at least six bytes from pos on, enough for the
    // start byte, length, flags, command and sub-command read below.
    while (pos < size - kNpaScanTail) {
        const uint8_t* p = input + pos;
        if (p[0] != kNpaStartByte) {
            ++pos;
            continue;
        }
        const int length = lengthofNPACommand(p);  // 3 .. 65538
        if (length > size - pos) break;            // the rest has not arrived (yet)

        if (s.firstresponse) {
            if ((p[4] & kNpaSkippedCommand) == kNpaSkippedCommand) {
                pos += length;
                continue;
            }
            if (length >= kNpaMinFirstPacket && p[5] == kNpaExtStatusSubCommand) {
                int category = requestCategoryofExtendedAlerts(p);
                if ((category == kNpaCategoryAlerts1 || category == kNpaCategoryExtAlerts) &&
                    static_cast<size_t>(length) <= kValidBufferSize) {
                    s.setContinueFlag = isContinueFlagset(p);
                    std::memcpy(output, p, static_cast<size_t>(length));
                    s.validBufferCount = length;
                    s.firstresponse = false;
                    if (!s.setContinueFlag) {
                        s.firstresponse = true;
                        *doneFlag = -1;
                        *assembledLength = length;
                        if (s.firstResponseBufferCount >= size - kNpaScanTail) {
                            s.firstResponseBufferCount = 0;
                            s.scanStop = pos + length;
                            return true;
                        }
                        s.firstResponseBufferCount += length;
                        result = true;
                    }
                }
            }
            pos += length;
            continue;
        }

        // Assembling: whatever comes next continues the response.
        if (length < kNpaContinuationHeader) {
            dropResponse(s);  // too short to carry flags: the response is broken
            pos += length;
            continue;
        }
        const int data = length - kNpaContinuationHeader;
        if (static_cast<size_t>(s.validBufferCount) + static_cast<size_t>(data) >
            kValidBufferSize) {
            dropResponse(s);  // would not fit: dropped whole, never cut
            pos += length;
            continue;
        }
        s.setContinueFlag = isContinueFlagset(p);
        std::memcpy(output + s.validBufferCount, p + kNpaContinuationHeader,
                    static_cast<size_t>(data));
        s.validBufferCount += data;
        if (!s.setContinueFlag) {
            *doneFlag = -1;
            *assembledLength = s.validBufferCount;
            s.firstresponse = true;
            s.validBufferCount = 0;
            s.scanStop = pos + length;
            return true;
        }
        pos += length;
    }
    s.scanStop = pos < size ? pos : size;
    *assembledLength = s.validBufferCount;
    return result;
}

int assembleFromStream(uint8_t* buffer, size_t held, size_t* carried) {
    size_t begin = 0;
    for (;;) {
        int done = 1;
        int assembled = 0;
        const int length = static_cast<int>(held - begin);
        if (ValidateReceivedResponse(buffer + begin, validBuffer.data(), length, &assembled,
                                     &done)) {
            *carried = 0;
            return assembled;
        }
        const size_t stop = static_cast<size_t>(npaValidatorState.scanStop);
        const size_t rest = static_cast<size_t>(length) - stop;
        if (rest <= kNpaMaxCarry) {
            std::memmove(buffer, buffer + begin + stop, rest);
            *carried = rest;
            return -1;
        }
        begin += stop + 1;
    }
}

bool assembleFromDatagram(const uint8_t* datagram, int length, int* assembledLength,
                          int* doneFlag) {
    if (length < 0 || !isAckIDValid(datagram, static_cast<size_t>(length))) return false;
    return ValidateReceivedResponse(datagram + kNpaReplyHeaderSize, validBuffer.data(),
                                    length - static_cast<int>(kNpaReplyHeaderSize), assembledLength,
                                    doneFlag);
}
