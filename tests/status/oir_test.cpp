// Operator-intervention request, reply parsing, word tables, transports.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "status/NPAPrinterAlertHandler.h"
#include "status/NPATransport9300.h"
#include "status/NPATransportFactory.h"
#include "status/NPATransportUSB.h"
#include "status/OIRCommandReq.h"
#include "status/OIRCommandResp.h"
#include "tests/status/testutil.h"
#include "tools/printersim/alertbuilder.h"

namespace {

using printersim::OirRecord;

// A transport that records what is sent and answers with canned bytes.
class FakeTransport : public NPATransport {
  public:
    int64_t InitializeConnection(const char* address) override {
        addresses.push_back(address);
        connected = true;
        return 0;
    }
    int64_t SendNPACommand(const uint8_t* data, uint64_t length) override {
        sent.emplace_back(data, data + length);
        return sendResult >= 0 ? sendResult : static_cast<int64_t>(length);
    }
    int64_t ReadNPAResponse(uint8_t* buffer, uint64_t size) override {
        std::memset(buffer, 0, size);
        if (reply.empty()) return -1;
        size_t n = std::min<size_t>(reply.size(), size);
        std::memcpy(buffer, reply.data(), n);
        return readResult != 0 ? readResult : static_cast<int64_t>(n);
    }
    int64_t ShutdownConnection() override { return 0; }

    std::vector<std::string> addresses;
    std::vector<Bytes> sent;
    Bytes reply;
    int64_t sendResult = -1;  // -1: the length
    int64_t readResult = 0;   // 0: the bytes copied
};

Bytes replyHeader() {
    return {0x01, 0x00, 0x00, 0x31, 0x11, 0x11, 0x00, 0x00, 0x11, 0x11, 0x00, 0x00};
}

std::vector<std::string> textsOf(const Bytes& packet, size_t slots) {
    OIRCommandResp resp;
    int count = -1;
    EXPECT_EQ(resp.ParseOIRResponse(packet.data(), static_cast<uint16_t>(packet.size()), &count),
              1);
    std::vector<std::string> texts(slots);
    resp.mappedString(&texts);
    return texts;
}

void setAddress(oirThreadParam* p, const char* address) {
    std::snprintf(p->address, sizeof p->address, "%s", address);
}

TEST(OirRequest, SixBytes) {
    OIRCommandReq req;
    std::array<uint8_t, 6> out{};
    req.CopyOIRReqBytes(out.data());
    EXPECT_EQ(Bytes(out.begin(), out.end()), (Bytes{0xA5, 0x00, 0x03, 0x50, 0x04, 0x06}));
    EXPECT_EQ(req.getOIRLength(), 6);
}

TEST(OirHandler, PollSendsFourteenBytesAndParsesTheReply) {
    auto fake = std::make_unique<FakeTransport>();
    FakeTransport* f = fake.get();
    // Golden reply: one record, device 1 (Input), state 3 (Missing), length 4.
    f->reply =
        cat({replyHeader(), {0xA5, 0x00, 0x08, 0x50, 0x04, 0x06, 0x01, 0x01, 0x00, 0x03, 0x04}});
    NPAPrinterAlertHandler handler(std::move(fake));
    oirThreadParam param;
    setAddress(&param, "127.0.93.99");
    EXPECT_EQ(handler.GetPrinterOIRStatus(&param), 1);
    ASSERT_EQ(f->sent.size(), 1u);
    // Golden: transport header with identifier 0x1111, then the request.
    EXPECT_EQ(f->sent[0], (Bytes{0x01, 0x00, 0x00, 0x31, 0x11, 0x11, 0x00, 0x00, 0xA5, 0x00, 0x03,
                                 0x50, 0x04, 0x06}));
    EXPECT_EQ(f->addresses, std::vector<std::string>{"127.0.93.99"});
    EXPECT_EQ(handler.recordCount, 1);
    std::vector<std::string> texts(1);
    handler.GetParsedString(&texts);
    EXPECT_EQ(texts[0], "InputMissing");
}

TEST(OirHandler, FailedSendEndsThePoll) {
    auto fake = std::make_unique<FakeTransport>();
    FakeTransport* f = fake.get();
    f->sendResult = 0;
    f->reply = cat({replyHeader(), printersim::oirReplyPacket({{1, 3, {}, -1}})});
    NPAPrinterAlertHandler handler(std::move(fake));
    oirThreadParam param;
    setAddress(&param, "127.0.93.99");
    EXPECT_EQ(handler.GetPrinterOIRStatus(&param), 0);
    EXPECT_EQ(handler.recordCount, 0);
    NPAPrinterAlertHandler none(static_cast<uint16_t>(3));
    EXPECT_EQ(none.GetPrinterOIRStatus(&param), -1);
}

TEST(OirHandler, WrongFirstByteGivesNoRecords) {
    auto fake = std::make_unique<FakeTransport>();
    fake->reply =
        cat({replyHeader(), {0xA4, 0x00, 0x08, 0x50, 0x04, 0x06, 0x01, 0x01, 0x00, 0x03, 0x04}});
    NPAPrinterAlertHandler handler(std::move(fake));
    oirThreadParam param;
    setAddress(&param, "127.0.93.99");
    EXPECT_EQ(handler.GetPrinterOIRStatus(&param), 1);
    EXPECT_EQ(handler.recordCount, 0);

    OIRCommandResp resp;
    int count = 7;
    Bytes bad = {0xA4, 0x00, 0x08, 0x50, 0x04, 0x06, 0x00, 0x00};
    EXPECT_EQ(resp.ParseOIRResponse(bad.data(), 8, &count), -1);
    EXPECT_EQ(count, 0);
    Bytes shortReply = {0xA5, 0x00, 0x04, 0x50, 0x04, 0x06, 0x00};
    EXPECT_EQ(resp.ParseOIRResponse(shortReply.data(), 7, &count), -1);
}

// Regression: the read result counts the 12 header bytes; only what follows is
// the packet, so a record must end within the bytes actually read.
TEST(OirHandler, RecordBeyondBytesReadIsNotTaken) {
    auto fake = std::make_unique<FakeTransport>();
    FakeTransport* f = fake.get();
    f->reply =
        cat({replyHeader(), printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, {0, 0}, -1}})});
    f->readResult = static_cast<int64_t>(f->reply.size()) - 2;  // second record cut off
    NPAPrinterAlertHandler handler(std::move(fake));
    oirThreadParam param;
    setAddress(&param, "127.0.93.99");
    EXPECT_EQ(handler.GetPrinterOIRStatus(&param), 1);
    EXPECT_EQ(handler.recordCount, 1);
    f->readResult = -1;  // time-out: nothing to parse (not 65535 bytes)
    EXPECT_EQ(handler.GetPrinterOIRStatus(&param), 1);
    EXPECT_EQ(handler.recordCount, 0);
}

TEST(OirWords, DeviceWordThenStateWordWithoutSeparator) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, {}, -1},
                                               {2, 8, {}, -1},
                                               {6, 5, {}, -1},
                                               {4, 9, {}, -1},
                                               {5, 10, {}, -1},
                                               {8, 6, {}, -1},
                                               {9, 36, {}, -1},
                                               {16, 60, {}, -1},
                                               {8, 42, {}, -1}});
    std::vector<std::string> texts = textsOf(packet, 9);
    EXPECT_EQ(texts, (std::vector<std::string>{"InputMissing", "OutputJam", "Empty", "Duplex",
                                               "External", "SuppliesNearly  Full",
                                               "Logical Unit/EmulatorIncorrect Installation",
                                               "UnknownBeta Version", "SuppliesNearlyExhausted"}));
}

TEST(OirWords, CodesOutOfRangeLeaveTheTextAsItWas) {
    Bytes packet = printersim::oirReplyPacket(
        {{0, 3, {}, -1}, {17, 3, {}, -1}, {1, 0, {}, -1}, {1, 61, {}, -1}});
    OIRCommandResp resp;
    int count = 0;
    ASSERT_EQ(resp.ParseOIRResponse(packet.data(), static_cast<uint16_t>(packet.size()), &count),
              1);
    EXPECT_EQ(count, 4);
    std::vector<std::string> texts = {"keep0", "keep1", "keep2", "keep3"};
    resp.mappedString(&texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"keep0", "keep1", "keep2", "keep3"}));
}

TEST(OirWords, TablesAreComplete) {
    EXPECT_EQ(std::string(kOirDeviceWords[5]), "");
    EXPECT_EQ(std::string(kOirDeviceWords[13]), "Kvo Framework");
    EXPECT_EQ(std::string(kOirStateWords[5]), "Nearly  Full");
    EXPECT_EQ(std::string(kOirStateWords[14]), "Abnormal");
    EXPECT_EQ(std::string(kOirStateWords[47]), "Incorrect Media in Tray");
    EXPECT_EQ(std::string(kOirStateWords[48]), "Getting Low/Nearly Low");
    EXPECT_EQ(std::string(kOirStateWords[59]), "Beta Version");
}

// --- Bounds of the record list (regressions) ---

TEST(OirBounds, RecordLengthZeroEndsTheList) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, {}, 0}, {4, 4, {}, -1}});
    OIRCommandResp resp;
    int count = 0;
    ASSERT_EQ(resp.ParseOIRResponse(packet.data(), static_cast<uint16_t>(packet.size()), &count),
              1);
    EXPECT_EQ(count, 1);
}

TEST(OirBounds, MoreRecordsDeclaredThanPresent) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, {}, -1}}, 255);
    Bytes exact(packet);
    OIRCommandResp resp;
    int count = 0;
    ASSERT_EQ(resp.ParseOIRResponse(exact.data(), static_cast<uint16_t>(exact.size()), &count), 1);
    EXPECT_EQ(count, 2);
}

TEST(OirBounds, RecordLengthPastTheBytesRead) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, {}, 200}});
    Bytes exact(packet);
    OIRCommandResp resp;
    int count = 0;
    ASSERT_EQ(resp.ParseOIRResponse(exact.data(), static_cast<uint16_t>(exact.size()), &count), 1);
    EXPECT_EQ(count, 1);
}

TEST(OirBounds, FewerTextSlotsThanRecords) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, {}, -1}, {4, 4, {}, -1}});
    EXPECT_EQ(textsOf(packet, 1), std::vector<std::string>{"InputMissing"});
}

TEST(OirBounds, LongestRecordFillsItsSlot) {
    Bytes packet = printersim::oirReplyPacket({{1, 3, Bytes(251, 0xEE), -1}});
    Bytes exact(packet);
    OIRCommandResp resp;
    int count = 0;
    ASSERT_EQ(resp.ParseOIRResponse(exact.data(), static_cast<uint16_t>(exact.size()), &count), 1);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(resp.records[0][3], 255);
    EXPECT_EQ(resp.records[0][4 + 254], 0xEE);
}

// --- Transports and the factory ---

TEST(OirTransport, FactoryMakesTheKindAsked) {
    EXPECT_NE(dynamic_cast<NPATransport9300*>(NPATransportFactory::CreateTransportObj(1).get()),
              nullptr);
    EXPECT_NE(dynamic_cast<NPATransportUSB*>(NPATransportFactory::CreateTransportObj(2).get()),
              nullptr);
    EXPECT_EQ(NPATransportFactory::CreateTransportObj(0), nullptr);
    EXPECT_EQ(NPATransportFactory::CreateTransportObj(3), nullptr);
}

TEST(OirTransport, UsbTransportDoesNothing) {
    NPATransportUSB usb;
    uint8_t byte = 0x5A;
    EXPECT_EQ(usb.InitializeConnection("127.0.93.98"), 0);
    EXPECT_EQ(usb.SendNPACommand(&byte, 1), 0);
    EXPECT_EQ(usb.ReadNPAResponse(&byte, 1), 0);
    EXPECT_EQ(usb.ShutdownConnection(), 0);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_FALSE(usb.connected);
}

TEST(OirTransport, NetworkTransportChecksItsArguments) {
    NPATransport9300 t;
    EXPECT_EQ(t.port, 9300);
    EXPECT_FALSE(t.connected);
    uint8_t data[540] = {};
    EXPECT_EQ(t.SendNPACommand(data, 6), -1);  // not connected
    EXPECT_EQ(t.ReadNPAResponse(data, sizeof data), -1);
    EXPECT_EQ(t.InitializeConnection(nullptr), -1);
    EXPECT_EQ(t.InitializeConnection("1.2.3.4"), -1);  // seven characters
    EXPECT_EQ(t.InitializeConnection("127.0.93.97"), 0);
    EXPECT_TRUE(t.connected);
    EXPECT_EQ(t.SendNPACommand(nullptr, 6), -1);
    EXPECT_EQ(t.SendNPACommand(data, 0), -1);
    EXPECT_EQ(t.ReadNPAResponse(data, 539), -1);
    EXPECT_EQ(t.ShutdownConnection(), 0);
    EXPECT_EQ(t.socketFd, -1);
}

// Regression: an address that is no address leaves no socket behind.
TEST(OirTransport, UnusableAddressLeavesNoSocket) {
    int before = openDescriptors();
    NPATransport9300 t;
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(t.InitializeConnection("127.0.93.999"), 0);
        EXPECT_FALSE(t.connected);
    }
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
