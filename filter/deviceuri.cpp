#include "filter/deviceuri.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "base/messages.h"

namespace {

// The first token of `text` separated by `delimiter`, as strtok() would cut it:
// leading delimiters are skipped and the token runs to the next delimiter.
std::string firstToken(std::string_view text, char delimiter) {
    size_t start = text.find_first_not_of(delimiter);
    if (start == std::string_view::npos) return {};
    size_t end = text.find(delimiter, start);
    return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

// Text after the first "//" of the URI (empty when there is none).
std::string_view afterSlashes(std::string_view uri) {
    size_t at = uri.find("//");
    return at == std::string_view::npos ? std::string_view{} : uri.substr(at + 2);
}

}  // namespace

DeviceUri classifyDeviceUri(const char* uri) {
    DeviceUri result;
    if (uri == nullptr) return result;
    std::string_view text(uri);
    if (text.find("usb://") != std::string_view::npos) {
        result.connectivity = kConnectivityUsb;
    } else if (text.find("socket://") != std::string_view::npos) {
        result.connectivity = kConnectivityNetwork;
        result.host = firstToken(afterSlashes(text), ':');
    } else if (text.find("lpd://") != std::string_view::npos ||
               text.find("ipp://") != std::string_view::npos) {
        result.host = firstToken(afterSlashes(text), '/');
    }
    return result;
}

int ValidateChannel(const char* host) {
    int dots = 0;
    for (const char* p = host; p != nullptr && *p != '\0'; ++p) {
        if (std::isalpha(static_cast<unsigned char>(*p))) return -1;
        if (*p == '.') ++dots;
    }
    if (dots == 3) return 1;
    msgf("\nreturned with error");
    return -1;
}
