#include "tools/inspect/json.h"

#include <cmath>
#include <cstdio>

namespace inspect {
namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF are refused).
size_t utf8Length(std::string_view text, size_t i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    size_t n;
    uint32_t cp;
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        cp = b0 & 0x1Fu;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        cp = b0 & 0x0Fu;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3Fu);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string s;
    s.reserve(text.size() + 2);
    s.push_back('"');
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                s += "\\\"";
                ++i;
                continue;
            case '\\':
                s += "\\\\";
                ++i;
                continue;
            case '\n':
                s += "\\n";
                ++i;
                continue;
            case '\r':
                s += "\\r";
                ++i;
                continue;
            case '\t':
                s += "\\t";
                ++i;
                continue;
            case '\b':
                s += "\\b";
                ++i;
                continue;
            case '\f':
                s += "\\f";
                ++i;
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            s += buf;
            ++i;
            continue;
        }
        const size_t n = utf8Length(text, i);
        if (n == 0) {
            s += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
            ++i;
        } else {
            s.append(text.substr(i, n));
            i += n;
        }
    }
    s.push_back('"');
    return s;
}

void JsonWriter::newline() {
    out_.push_back('\n');
    out_.append(2 * counts_.size(), ' ');
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (counts_.empty()) return;
    if (counts_.back()++ > 0) out_.push_back(',');
    newline();
}

void JsonWriter::key(std::string_view name) {
    separate();
    out_ += jsonString(name);
    out_ += ": ";
    afterKey_ = true;
}

void JsonWriter::open(char c) {
    separate();
    out_.push_back(c);
    counts_.push_back(0);
}

void JsonWriter::close(char c) {
    const bool empty = counts_.empty() || counts_.back() == 0;
    if (!counts_.empty()) counts_.pop_back();
    if (!empty) newline();
    out_.push_back(c);
    if (counts_.empty()) out_.push_back('\n');
}

void JsonWriter::scalar(std::string_view text) {
    separate();
    out_.append(text);
}

void JsonWriter::value(double d) {
    if (!std::isfinite(d)) {
        null();
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", d);
    scalar(buf);
}

}  // namespace inspect
