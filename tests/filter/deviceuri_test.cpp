// Device URI classes and the host check; pure functions, no traffic.
#include "filter/deviceuri.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct UriCase {
    const char* uri;
    const char* connectivity;
    const char* host;
};

class DeviceUriClasses : public ::testing::TestWithParam<UriCase> {};

TEST_P(DeviceUriClasses, ClassAndHost) {
    const UriCase& c = GetParam();
    DeviceUri d = classifyDeviceUri(c.uri);
    EXPECT_STREQ(d.connectivity, c.connectivity);
    EXPECT_EQ(d.host, c.host);
}

INSTANTIATE_TEST_SUITE_P(
    Uris, DeviceUriClasses,
    ::testing::Values(UriCase{"usb://Maker/Model?serial=42", "USB", ""},
                      UriCase{"socket://127.0.31.3:9100", "NETWORK", "127.0.31.3"},
                      UriCase{"socket://printer.example.com:9100", "NETWORK",
                              "printer.example.com"},
                      UriCase{"socket://127.0.31.20", "NETWORK", "127.0.31.20"},
                      UriCase{"lpd://127.0.31.3/queue", "BONJOUR", "127.0.31.3"},
                      // Only '/' splits the ipp host, so the port stays attached.
                      UriCase{"ipp://127.0.31.5:631/ipp", "BONJOUR", "127.0.31.5:631"},
                      UriCase{"dnssd://Printer._ipp._tcp.local/", "BONJOUR", ""},
                      UriCase{"file:///tmp/out.prn", "BONJOUR", ""},
                      // "usb://" anywhere wins over everything else.
                      UriCase{"socket://usb://x", "USB", ""}));

TEST(DeviceUri, MissingUriIsBonjourWithoutHost) {
    DeviceUri d = classifyDeviceUri(nullptr);
    EXPECT_STREQ(d.connectivity, "BONJOUR");
    EXPECT_TRUE(d.host.empty());
}

TEST(ValidateChannel, DottedAddressesPassWithoutMessage) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ValidateChannel("127.0.31.20"), 1);
    EXPECT_EQ(ValidateChannel("127.0.31.5:631"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ValidateChannel, NamesFailSilently) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ValidateChannel("printer.example.com"), -1);
    EXPECT_EQ(ValidateChannel("1.2.3.a"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ValidateChannel, WrongDotCountsFailWithMessage) {
    for (const char* host : {"10.1.2", "1.2.3.4.5", "", "1234"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(ValidateChannel(host), -1) << host;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nreturned with error\n") << host;
    }
}

}  // namespace
