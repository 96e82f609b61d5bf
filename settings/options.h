// The job's option string (the ticket) and the lookup that every option
// setter shares: ticket first, then the default choice of the PPD option of
// the same name, then the setter's own built-in outcome.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <string_view>

// A parsed ticket.  The option list is freed when the object goes away.
class TicketOptions {
  public:
    // `ticket` may be null (no options).
    explicit TicketOptions(const char* ticket);
    ~TicketOptions();
    TicketOptions(const TicketOptions&) = delete;
    TicketOptions& operator=(const TicketOptions&) = delete;

    // Value of option `name` (libcups matches names without regard to case),
    // or null when the ticket does not have it.
    const char* get(const char* name) const;

    // Value of the first option, in the parsed list's order, whose name starts
    // with `prefix` (case-sensitive), or null when there is none.
    const char* firstWithPrefix(std::string_view prefix) const;

    int size() const { return count_; }

  private:
    int count_ = 0;
    cups_option_t* list_ = nullptr;
};

// `text` read as a decimal integer the way atoi() reads it (leading blanks,
// an optional sign, then digits; 0 when there are none), but saturating at
// the int32 range instead of overflowing.  Null reads as 0.
int32_t leadingInt(const char* text);

// The copies argument: the spooler sends 1 to 9999 (its MaxCopies ceiling).
inline constexpr int32_t kMinCopies = 1;
inline constexpr int32_t kMaxCopies = 9999;

// Reads the copies argument strictly: decimal digits only (no sign, blanks or
// trailing text), kMinCopies to kMaxCopies.  False, with *copies untouched,
// for anything else; the job run refuses such a job.
bool parseCopies(const char* text, int32_t* copies);

// Where an option's value was found.
enum class OptionSource { kNone, kTicket, kPpd };

struct OptionValue {
    OptionSource source = OptionSource::kNone;
    std::string text;  // empty when source is kNone
    bool found() const { return source != OptionSource::kNone; }
};

// The option lookup: `name` in the ticket (parsed afresh), else the default
// choice of the PPD option `name` in the job's PPD, else nothing.  The ticket
// always wins; the PPD is asked only for its default choice.
OptionValue lookupOption(const char* ticket, const char* name);
