// Where the job's bytes go.
//
// A ByteSink takes bytes and returns the count taken, or -1 when it could not
// take them.  It is a small non-owning reference to a callable: a plain
// function (hdcWrite, the output ring's writer) or any object with a call
// operator of that shape, which carries its own state (a capture buffer, a
// recording of the page in hand) instead of keeping it in a global.  The
// object must outlive every use of the sink.  A default or null sink is
// "absent": the PCL XL emitters write nothing to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

class ByteSink {
  public:
    using Function = int64_t (*)(const uint8_t* data, uint32_t length);

    constexpr ByteSink() = default;
    constexpr ByteSink(std::nullptr_t) {}             // NOLINT(google-explicit-constructor)
    constexpr ByteSink(Function f) : function_(f) {}  // NOLINT(google-explicit-constructor)

    // Any callable object (taken by reference, not copied).
    template <class F>
    requires(!std::is_convertible_v<F&, Function> && !std::is_same_v<F, ByteSink> &&
             std::is_invocable_r_v<int64_t, F&, const uint8_t*, uint32_t>)
        ByteSink(F& object)  // NOLINT(google-explicit-constructor)
        : object_(&object), thunk_([](void* o, const uint8_t* data, uint32_t length) -> int64_t {
              return (*static_cast<F*>(o))(data, length);
          }) {}

    // Hands the bytes over; -1 from an absent sink.
    int64_t operator()(const uint8_t* data, uint32_t length) const {
        if (thunk_ != nullptr) return thunk_(object_, data, length);
        return function_ != nullptr ? function_(data, length) : -1;
    }

    explicit operator bool() const { return thunk_ != nullptr || function_ != nullptr; }
    friend bool operator==(const ByteSink& sink, std::nullptr_t) { return !sink; }

  private:
    Function function_ = nullptr;
    void* object_ = nullptr;
    int64_t (*thunk_)(void*, const uint8_t*, uint32_t) = nullptr;
};
