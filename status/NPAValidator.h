// NPA packet framing and reassembly of the printer's extended-alert response.
//
// An NPA packet (IEEE 1284.1) is: start byte 0xA5, a big-endian 16-bit count of
// the bytes that follow the length field, flags (bit 5 = "more packets of this
// response follow"), command, sub-command, category, data.  On the network every
// request carries an 8-byte transport header in front and every reply a 12-byte
// one.  The validator scans received bytes for the first packet of an
// extended-alert response and glues continuation packets onto it in
// `validBuffer`, from which the alert parser (status/NPAParser.h) reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "status/NPATHeader.h"

inline constexpr uint8_t kNpaStartByte = 0xA5;
inline constexpr uint8_t kNpaContinueFlag = 0x20;  // flags bit 5
inline constexpr uint8_t kNpaStatusCommand = 0xE0;
inline constexpr uint8_t kNpaExtStatusSubCommand = 0x73;
// Commands with this value (bit 4 ignored) are not status answers and are skipped.
inline constexpr uint8_t kNpaSkippedCommand = 0xEF;

// Values of requestCategoryofExtendedAlerts().
inline constexpr int kNpaCategoryAlerts1 = 1;
inline constexpr int kNpaCategoryExtAlerts = 3;
inline constexpr int kNpaCategoryRegistration = 7;
inline constexpr int kNpaCategoryOther = 8;

// A packet's length field counts the bytes behind itself: whole packet = field + 3.
inline constexpr int kNpaLengthFieldOverhead = 3;
// A continuation packet contributes its bytes behind start byte, length, flags
// and command to the assembled response.
inline constexpr int kNpaContinuationHeader = 5;
// A first packet must reach its category byte (offset 6) to be recognised.
inline constexpr int kNpaMinFirstPacket = 7;
// Packets starting in the last this-many bytes of an input are not looked at.
inline constexpr int kNpaScanTail = 5;

inline constexpr size_t kNpaTransportHeaderSize = NPATHeaderReq::kHeaderLength;
inline constexpr size_t kNpaReplyHeaderSize = 12;
// Identifier bytes of the network monitor's requests, echoed at reply bytes 8-11.
inline constexpr std::array<uint8_t, 4> kNpaMonitorIdBytes = {0x12, 0x34, 0x56, 0x78};

// The assembled response.  A response that would not fit is dropped whole.
inline constexpr size_t kValidBufferSize = 1024;
extern std::array<uint8_t, kValidBufferSize> validBuffer;

// The validator's scan state; it lives across calls so that a response split over
// several reads is put together piece by piece.
struct NpaValidatorState {
    int receivedBufferSize = 0;        // length of the input being scanned
    bool setContinueFlag = false;      // continue flag of the last packet taken
    bool firstresponse = true;         // waiting for the first packet of a response
    int validBufferCount = 0;          // bytes assembled so far
    int firstResponseBufferCount = 0;  // running total of one-packet responses taken
    // Offset in the last input where the scan stopped: bytes from here on were
    // not looked at (a packet running past the end, or the last five bytes).
    // A stream reader can carry them over to the next read.
    int scanStop = 0;
};
extern NpaValidatorState npaValidatorState;

// Back to the initial state, `validBuffer` cleared.
void npaValidatorReset();

// Writes the 8-byte network transport header (identifier bytes 12 34 56 78) and
// `length` bytes of `packet` behind it.  -1 when the destination is null, the
// packet is null or the destination (destinationSize bytes) cannot hold
// length + 8 bytes; otherwise length + 8.
int AssembleNPACommand(const uint8_t* packet, uint8_t* destination, int length,
                       size_t destinationSize);

// Whole packet length (length field + 3) when byte 0 is 0xA5, else 0.  Reads 3 bytes.
int lengthofNPACommand(const uint8_t* packet);
// Byte 0 is 0xA5 and the continue flag is set.  Reads 4 bytes.
bool isContinueFlagset(const uint8_t* packet);
// Byte 6 when it is 1, 3 or 7, otherwise 8.
int requestCategoryofExtendedAlerts(const uint8_t* packet);
// Reply bytes 8-11 are 12 34 56 78 (false when the reply is shorter than 12 bytes).
bool isAckIDValid(const uint8_t* reply, size_t length);
// Big-endian 16-bit number in the first two bytes.
uint16_t twoByteSwap(const uint8_t* bytes);

// Scans `inputLength` bytes of `input` and assembles an extended-alert response
// into `output`, which must hold kValidBufferSize bytes (callers pass
// validBuffer).  Writes the assembled length, sets *doneFlag to -1 when a
// response is complete (never to anything else), and returns true when a
// complete response was taken in this call.
//
// Bounds: a packet whose length field runs past the input ends the scan (its
// bytes are left at npaValidatorState.scanStop); a first packet shorter than 7
// bytes is passed over; a response that would outgrow the output, or a
// continuation packet shorter than its 5 header bytes, drops the response being
// assembled.
bool ValidateReceivedResponse(const uint8_t* input, uint8_t* output, int inputLength,
                              int* assembledLength, int* doneFlag);

// Bytes of a packet that has not wholly arrived that a stream reader keeps for
// its next read; no usable packet is longer than the assembled response plus a
// packet header.
inline constexpr size_t kNpaMaxCarry = kValidBufferSize + kNpaContinuationHeader;

// Assembles from a byte stream (the USB back channel): `held` bytes at the
// front of `buffer`, those kept from the last call followed by those read
// since.  A packet start whose packet has not wholly arrived is kept: it is
// moved to the front of `buffer`, and *carried says how many bytes it has.
// One that would need more than kNpaMaxCarry bytes is no packet start at all
// (a stray 0xA5); it is passed over and the bytes behind it are scanned again.
// Returns the assembled length (in validBuffer) once a response is complete,
// with *carried 0 (the bytes behind the response are dropped), else -1.
int assembleFromStream(uint8_t* buffer, size_t held, size_t* carried);

// Assembles from one datagram of `length` bytes of the network monitor's
// exchange: ignored unless it echoes the monitor's identifier (isAckIDValid);
// otherwise its packets, behind the reply header, go to
// ValidateReceivedResponse with *doneFlag.  True when it completed a response
// of *assembledLength bytes in validBuffer.
bool assembleFromDatagram(const uint8_t* datagram, int length, int* assembledLength, int* doneFlag);
