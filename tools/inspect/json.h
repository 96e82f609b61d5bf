// A small streaming JSON writer: objects, arrays, strings, numbers, booleans
// and null, indented two spaces per level.  Strings are escaped per RFC 8259;
// bytes that are not valid UTF-8 become U+FFFD so the output is always valid.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace inspect {

// `text` as a JSON string literal, quotes included.
std::string jsonString(std::string_view text);

class JsonWriter {
  public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The key of the next member; must be inside an object.
    void key(std::string_view name);

    void value(std::string_view text) { scalar(jsonString(text)); }
    void value(const char* text) { value(std::string_view(text)); }
    void value(const std::string& text) { value(std::string_view(text)); }
    void value(bool b) { scalar(b ? "true" : "false"); }
    void value(double d);
    template <std::integral T>
    requires(!std::same_as<T, bool>) void value(T v) { scalar(std::to_string(v)); }
    void null() { scalar("null"); }

    template <typename T>
    void member(std::string_view name, const T& v) {
        key(name);
        value(v);
    }

  private:
    void open(char c);
    void close(char c);
    void scalar(std::string_view text);
    void separate();
    void newline();

    std::string& out_;
    std::vector<int> counts_;  // members or elements written per open level
    bool afterKey_ = false;
};

}  // namespace inspect
