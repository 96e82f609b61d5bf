// quenzel-printersim: answers the filter's network status requests like a
// printer, on UDP port 9300 of a loopback address.
//
//   quenzel-printersim --address 127.0.0.5 --alert "Paper jam in tray 2"
//   DEVICE_URI=socket://127.0.0.5:9100 ... quenzel ...
//
// Runs until interrupted; prints every request it receives.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/printersim/printersim.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) {
    gStop = 1;
}

void usage() {
    std::fprintf(stderr,
                 "usage: quenzel-printersim --address 127.x.y.z [options]\n"
                 "  --address A       loopback address to listen on (UDP port 9300)\n"
                 "  --port P          another port (default 9300)\n"
                 "  --alert TEXT      an alert whose first detail entry says TEXT (repeatable)\n"
                 "  --class C         error | warning | both | other (default error)\n"
                 "  --split N         split the response into N NPA packets\n"
                 "  --datagrams N     spread the packets over N datagrams\n"
                 "  --silent          record requests, answer nothing\n"
                 "  --oir D:S         answer operator-intervention requests with a record of\n"
                 "                    device code D and state code S (repeatable)\n"
                 "  --usb-bytes FILE  write the back-channel bytes of the response to FILE\n"
                 "                    (for a USB back channel) and exit\n"
                 "  --quiet           do not print the requests\n");
}

const char* kindName(printersim::RequestKind kind) {
    switch (kind) {
        case printersim::RequestKind::kRegistration:
            return "registration";
        case printersim::RequestKind::kUnregistration:
            return "unregistration";
        case printersim::RequestKind::kAlertRequest:
            return "alert request";
        case printersim::RequestKind::kOirRequest:
            return "operator-intervention request";
        case printersim::RequestKind::kOther:
            break;
    }
    return "other";
}

}  // namespace

int main(int argc, char** argv) {
    std::string address;
    int port = 9300;
    printersim::AlertConfig config;
    std::vector<printersim::OirRecord> oir;
    const char* usbFile = nullptr;
    bool quiet = false;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quenzel-printersim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--address") {
            address = value();
        } else if (arg == "--port") {
            port = std::atoi(value());
        } else if (arg == "--alert") {
            config.alerts.push_back(printersim::SimAlert::withText(value()));
        } else if (arg == "--class") {
            std::string c = value();
            if (c == "error") {
                config.classBits = printersim::kClassError;
            } else if (c == "warning") {
                config.classBits = printersim::kClassWarning;
            } else if (c == "both") {
                config.classBits = printersim::kClassError | printersim::kClassWarning;
            } else if (c == "other") {
                config.classBits = 0;
            } else {
                usage();
                return 2;
            }
        } else if (arg == "--split") {
            config.packets = std::atoi(value());
        } else if (arg == "--datagrams") {
            config.datagrams = std::atoi(value());
        } else if (arg == "--silent") {
            config.silent = true;
        } else if (arg == "--oir") {
            unsigned d = 0;
            unsigned s = 0;
            if (std::sscanf(value(), "%u:%u", &d, &s) != 2) {
                usage();
                return 2;
            }
            oir.push_back({static_cast<uint8_t>(d), static_cast<uint8_t>(s), {}, -1});
        } else if (arg == "--usb-bytes") {
            usbFile = value();
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }

    if (usbFile != nullptr) {
        printersim::Bytes bytes = printersim::backChannelBytes(config);
        std::FILE* f = std::fopen(usbFile, "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::perror(usbFile);
            if (f != nullptr) std::fclose(f);
            return 1;
        }
        std::fclose(f);
        return 0;
    }
    if (address.empty() || port <= 0 || port > 65535) {
        usage();
        return 2;
    }

    printersim::PrinterSimulator sim(address, static_cast<uint16_t>(port));
    if (!sim.listening()) {
        std::fprintf(stderr, "quenzel-printersim: %s\n", sim.error().c_str());
        return 1;
    }
    sim.setConfig(config);
    if (!oir.empty()) sim.setOirReply(printersim::oirReplyPacket(oir));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("listening on %s:%d\n", address.c_str(), port);
    std::fflush(stdout);

    size_t shown = 0;
    while (!gStop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<printersim::Datagram> got = sim.received();
        for (; shown < got.size(); ++shown) {
            if (quiet) continue;
            std::printf("%s: %s\n", kindName(got[shown].kind),
                        printersim::hex(got[shown].bytes).c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}
