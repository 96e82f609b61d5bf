// NPA packet accessors, transport header and response reassembly.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "status/NPACommands.h"
#include "status/NPATHeader.h"
#include "status/NPAValidator.h"
#include "tests/status/testutil.h"
#include "tools/printersim/alertbuilder.h"

namespace {

using printersim::SimAlert;

class Validator : public ::testing::Test {
  protected:
    void SetUp() override { npaValidatorReset(); }

    // One call on an input held in a buffer of exactly its size.
    bool feed(const Bytes& input) {
        Bytes exact(input);
        done = 1;
        return ValidateReceivedResponse(exact.data(), validBuffer.data(),
                                        static_cast<int>(exact.size()), &assembled, &done);
    }
    Bytes assembledBytes() const {
        return Bytes(validBuffer.begin(), validBuffer.begin() + assembled);
    }

    int assembled = 0;
    int done = 1;
};

// What the validator assembles from a split response: the response, with the
// first packet's own length field and flags (continue flag set) at bytes 1-3.
Bytes asAssembled(Bytes response, const Bytes& firstPacket) {
    std::copy_n(firstPacket.begin() + 1, 3, response.begin() + 1);
    return response;
}

Bytes response(const std::string& text) {
    return printersim::alertResponse({SimAlert::withText(text)}, printersim::kClassError);
}

TEST(NpaPacket, HeaderAccessors) {
    Bytes alerts(NPA_DEVCOMMAND_EXT_ERRORS.begin(), NPA_DEVCOMMAND_EXT_ERRORS.end());
    EXPECT_EQ(lengthofNPACommand(alerts.data()), 16);  // A5 00 0D
    Bytes notPacket = {0xA4, 0x00, 0x0D};
    EXPECT_EQ(lengthofNPACommand(notPacket.data()), 0);

    for (uint8_t flags : {0x20, 0x70}) {
        Bytes p = {0xA5, 0x00, 0x03, flags};
        EXPECT_TRUE(isContinueFlagset(p.data())) << int(flags);
    }
    Bytes plain = {0xA5, 0x00, 0x03, 0x50};
    EXPECT_FALSE(isContinueFlagset(plain.data()));
    Bytes wrongStart = {0x00, 0x00, 0x03, 0x70};
    EXPECT_FALSE(isContinueFlagset(wrongStart.data()));

    Bytes p(7, 0);
    for (int c : {1, 3, 7}) {
        p[6] = static_cast<uint8_t>(c);
        EXPECT_EQ(requestCategoryofExtendedAlerts(p.data()), c);
    }
    for (int c : {0, 2, 4, 5, 6, 8, 9, 255}) {
        p[6] = static_cast<uint8_t>(c);
        EXPECT_EQ(requestCategoryofExtendedAlerts(p.data()), 8) << c;
    }
    Bytes two = {0x01, 0x02};
    EXPECT_EQ(twoByteSwap(two.data()), 0x0102);
}

TEST(NpaPacket, AckIdentifierNeedsTwelveBytes) {
    Bytes reply = {0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
    EXPECT_TRUE(isAckIDValid(reply.data(), reply.size()));
    reply[11] = 0x79;
    EXPECT_FALSE(isAckIDValid(reply.data(), reply.size()));
    reply[11] = 0x78;
    EXPECT_FALSE(isAckIDValid(reply.data(), 11));
}

TEST(NpaPacket, AssembledAlertRequestIs24Bytes) {
    std::array<uint8_t, 24> out{};
    int n = AssembleNPACommand(NPA_DEVCOMMAND_EXT_ERRORS.data(), out.data(), 16, out.size());
    ASSERT_EQ(n, 24);
    // Golden: network transport header with identifier bytes 12 34 56 78, then the request.
    Bytes expected = {0x01, 0x00, 0x00, 0x31, 0x12, 0x34, 0x56, 0x78, 0xA5, 0x00, 0x0D, 0x50,
                      0xE0, 0x73, 0x03, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(out.begin(), out.end()), expected);

    EXPECT_EQ(AssembleNPACommand(NPA_DEVCOMMAND_EXT_ERRORS.data(), nullptr, 16, 24), -1);
    // Regression: a destination too small for header + packet is refused, not overrun.
    EXPECT_EQ(AssembleNPACommand(NPA_DEVCOMMAND_EXT_ERRORS.data(), out.data(), 16, 23), -1);
}

TEST(NpaPacket, TransportHeaderIdentifierLeastSignificantFirst) {
    NPATHeaderReq header;
    std::array<uint8_t, 8> out{};
    header.CopyNPATHdrBytes(out.data());
    EXPECT_EQ(Bytes(out.begin(), out.end()),
              (Bytes{0x01, 0x00, 0x00, 0x31, 0x78, 0x56, 0x34, 0x12}));
    header.setPacketID(0x1111);
    header.CopyNPATHdrBytes(out.data());
    EXPECT_EQ(Bytes(out.begin(), out.end()),
              (Bytes{0x01, 0x00, 0x00, 0x31, 0x11, 0x11, 0x00, 0x00}));
    EXPECT_EQ(header.getHeaderLength(), 8);
}

TEST_F(Validator, OneCompleteReplyIsCopiedWhole) {
    Bytes r = response("Paper jam");
    EXPECT_TRUE(feed(r));
    EXPECT_EQ(done, -1);
    EXPECT_EQ(assembled, static_cast<int>(r.size()));
    EXPECT_EQ(assembledBytes(), r);
}

TEST_F(Validator, ContinuedReplyIsAssembledAcrossTwoInputs) {
    Bytes r = response("Toner low");
    std::vector<Bytes> packets = printersim::splitIntoPackets(r, 2);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_FALSE(feed(packets[0]));
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(feed(packets[1]));
    EXPECT_EQ(done, -1);
    EXPECT_EQ(assembled, static_cast<int>(packets[0].size() + packets[1].size() - 5));
    EXPECT_EQ(assembledBytes(), asAssembled(r, packets[0]));
}

TEST_F(Validator, ThreePacketsInOneInputAmongForeignBytes) {
    Bytes r = response("Door open");
    std::vector<Bytes> packets = printersim::splitIntoPackets(r, 3);
    Bytes skipped = {0xA5, 0x00, 0x05, 0x50, 0xEF, 0x73, 0x03, 0x00};  // command 0xEF: passed over
    Bytes input = cat({{0x00, 0x11},
                       skipped,
                       printersim::registrationReplyPacket(true),
                       packets[0],
                       packets[1],
                       packets[2]});
    EXPECT_TRUE(feed(input));
    EXPECT_EQ(assembledBytes(), asAssembled(r, packets[0]));
}

TEST_F(Validator, RegistrationAnswerIsNotTaken) {
    EXPECT_FALSE(feed(printersim::registrationReplyPacket(true)));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(validBuffer[0], 0);
}

TEST_F(Validator, LastOfTwoOnePacketRepliesStays) {
    Bytes a = response("first");
    Bytes b = response("second reply");
    EXPECT_TRUE(feed(cat({a, b})));
    EXPECT_EQ(assembledBytes(), b);
}

TEST_F(Validator, PacketInLastFiveBytesIsNotLookedAt) {
    Bytes r = response("Cover open");
    std::vector<Bytes> packets = printersim::splitIntoPackets(r, 2);
    ASSERT_FALSE(feed(packets[0]));
    // A closing continuation packet without data is five bytes long.
    Bytes closing = {0xA5, 0x00, 0x02, 0x50, 0xE0};
    EXPECT_FALSE(feed(cat({{0x00, 0x00, 0x00, 0x00, 0x00}, closing})));
    EXPECT_EQ(npaValidatorState.scanStop, 5);  // left for a stream reader to carry over
    // With one byte behind it, it starts six bytes from the end and is looked at.
    EXPECT_TRUE(feed(cat({closing, {0x00}})));
    EXPECT_EQ(assembled, static_cast<int>(packets[0].size()));
}

TEST_F(Validator, ResponseTooBigForValidBufferIsDropped) {
    Bytes big(1100, 0x00);
    Bytes head = {0xA5, 0x04, 0x49, 0x50, 0xE0, 0x73, 0x03};  // 0x449 + 3 = 1100 bytes
    std::copy(head.begin(), head.end(), big.begin());
    EXPECT_FALSE(feed(big));
    EXPECT_EQ(validBuffer[0], 0);
    EXPECT_TRUE(feed(response("after")));  // nothing left half-way
}

TEST_F(Validator, AssembledResponseOutgrowingValidBufferIsDropped) {
    Bytes first(600, 0x00);
    Bytes head = {0xA5, 0x02, 0x55, 0x70, 0xE0, 0x73, 0x03};  // 600 bytes, continue flag
    std::copy(head.begin(), head.end(), first.begin());
    Bytes second(600, 0x00);
    Bytes head2 = {0xA5, 0x02, 0x55, 0x50, 0xE0};  // 595 data bytes: 1195 > 1024
    std::copy(head2.begin(), head2.end(), second.begin());
    EXPECT_FALSE(feed(first));
    EXPECT_FALSE(feed(second));
    EXPECT_TRUE(npaValidatorState.firstresponse);
    Bytes r = response("fits");
    EXPECT_TRUE(feed(r));
    EXPECT_EQ(assembledBytes(), r);
}

TEST_F(Validator, LengthFieldBeyondInputIsNotRead) {
    Bytes r = response("cut short");
    Bytes cut(r.begin(), r.begin() + 30);
    EXPECT_FALSE(feed(cut));
    EXPECT_EQ(npaValidatorState.scanStop, 0);
    EXPECT_EQ(validBuffer[0], 0);
}

TEST_F(Validator, ContinuationShorterThanFiveBytesDropsResponse) {
    std::vector<Bytes> packets = printersim::splitIntoPackets(response("broken"), 2);
    ASSERT_FALSE(feed(packets[0]));
    Bytes tiny = {0xA5, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // length field 0: 3 bytes
    EXPECT_FALSE(feed(tiny));
    EXPECT_TRUE(npaValidatorState.firstresponse);
    EXPECT_EQ(npaValidatorState.validBufferCount, 0);
}

TEST_F(Validator, FirstPacketTooShortForCategoryIsPassedOver) {
    Bytes ack = {0xA5, 0x00, 0x03, 0x50, 0xE0, 0x73};
    EXPECT_FALSE(feed(cat({ack, {0x00}})));
    EXPECT_TRUE(npaValidatorState.firstresponse);
}

// The back channel is a byte stream: a packet cut by a read is kept at the
// front of the buffer for the next read; a stray 0xA5 whose length no answer
// can have is passed over once more bytes than any packet are held behind it.
TEST_F(Validator, StreamKeepsACutPacketAndPassesOverAStrayStart) {
    Bytes r = response("Paper jam");
    std::array<uint8_t, 8192> buffer{};
    std::copy_n(r.begin(), 20, buffer.begin());
    size_t carried = 99;
    EXPECT_EQ(assembleFromStream(buffer.data(), 20, &carried), -1);
    ASSERT_EQ(carried, 20u);
    std::copy(r.begin() + 20, r.end(), buffer.begin() + 20);
    EXPECT_EQ(assembleFromStream(buffer.data(), r.size(), &carried), static_cast<int>(r.size()));
    EXPECT_EQ(carried, 0u);
    EXPECT_EQ(Bytes(validBuffer.begin(), validBuffer.begin() + static_cast<long>(r.size())), r);

    npaValidatorReset();
    Bytes stream = cat({{0xA5, 0xFF, 0xFF}, Bytes(kNpaMaxCarry, 0x00), r});
    std::copy(stream.begin(), stream.end(), buffer.begin());
    EXPECT_EQ(assembleFromStream(buffer.data(), stream.size(), &carried),
              static_cast<int>(r.size()));
}

TEST_F(Validator, DatagramCountsOnlyWithTheMonitorsIdentifier) {
    Bytes r = response("Jam");
    Bytes ours = cat({{0x01, 0x00, 0x00, 0x31, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78}, r});
    Bytes foreign = ours;
    foreign[11] = 0x79;
    EXPECT_FALSE(
        assembleFromDatagram(foreign.data(), static_cast<int>(foreign.size()), &assembled, &done));
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(
        assembleFromDatagram(ours.data(), static_cast<int>(ours.size()), &assembled, &done));
    EXPECT_EQ(assembledBytes(), r);
}

}  // namespace
