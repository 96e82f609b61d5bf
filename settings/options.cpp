#include "settings/options.h"

#include <cstdlib>

#include "settings/ppd.h"

TicketOptions::TicketOptions(const char* ticket) {
    if (ticket != nullptr) count_ = cupsParseOptions(ticket, 0, &list_);
    if (count_ < 0) count_ = 0;
}

TicketOptions::~TicketOptions() {
    cupsFreeOptions(count_, list_);
}

const char* TicketOptions::get(const char* name) const {
    return cupsGetOption(name, count_, list_);
}

const char* TicketOptions::firstWithPrefix(std::string_view prefix) const {
    for (int i = 0; i < count_; ++i) {
        const char* name = list_[i].name;
        if (name != nullptr && std::string_view(name).starts_with(prefix)) return list_[i].value;
    }
    return nullptr;
}

OptionValue lookupOption(const char* ticket, const char* name) {
    OptionValue result;
    {
        TicketOptions options(ticket);
        if (const char* value = options.get(name)) {
            result.source = OptionSource::kTicket;
            result.text = value;
            return result;
        }
    }
    if (auto choice = ppdOptionDefault(jobPpd(), name)) {
        result.source = OptionSource::kPpd;
        result.text = std::move(*choice);
    }
    return result;
}

int32_t leadingInt(const char* text) {
    if (text == nullptr) return 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool parseCopies(const char* text, int32_t* copies) {
    if (text == nullptr || *text == '\0') return false;
    int32_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > kMaxCopies) return false;  // also stops before any overflow
    }
    if (value < kMinCopies) return false;
    *copies = value;
    return true;
}
