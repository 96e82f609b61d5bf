// Extended-alert parsing.
//
// An assembled extended-alert response (validBuffer) starts with the whole first
// NPA packet; byte 10 carries the class bits of its alerts (bit 0 error, bit 1
// warning) and the raw alert block starts at byte 25:
//
//   block  0-1   block length B, big-endian; the block is B + 2 bytes
//          2-3   not interpreted
//          4..   header text "P{ID:n..DT:n}xx{NE:n..LD:n}xx{LD:n}" giving the byte
//                widths of the item fields (a missing key gives width 0)
//          38    the root container of a tree of typed items
//
// Items: identifier (idWidth bytes), type (typeWidth bytes; only the low byte of
// each is used), then by type: container = element count (countWidth), content
// length (containerLengthWidth), content; integer / string / other = value length
// (valueLengthWidth), value.  Numbers are unsigned big-endian.
//
// Items are named by dotted paths ("1" is the root, a child adds "." and its
// identifier as a signed byte).  Alerts are the containers 1.2.a (a = 1, 2, ...),
// their detail entries 1.2.a.2.b (b = 1, 2, ...); see ParseExtAlert for the rest.
//
// Every field read is checked against the end of the block, and the block against
// the assembled length: a response that breaks a bound fails to parse (-1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr size_t kAlertClassOffset = 10;  // in the response
inline constexpr size_t kAlertBlockOffset = 25;  // in the response
inline constexpr size_t kAlertHeaderOffset = 4;  // in the block
inline constexpr size_t kAlertTreeOffset = 38;   // in the block
// The widest field a header may announce: numbers are read into 64 bits.
inline constexpr int kAlertMaxFieldWidth = 8;
// Texts: 254 characters plus the terminator in the 255-byte fields.
inline constexpr size_t kAlertTextField = 255;
inline constexpr size_t kAlertEntryTextField = 256;
inline constexpr size_t kAlertMaxText = kAlertTextField - 1;
// Containers nest at most this deep below the root (the deepest path of
// interest, 1.2.a.2.b.3, is five levels down).
inline constexpr int kAlertMaxDepth = 32;

enum AlertItemType { kAlertContainer = 0, kAlertInteger = 1, kAlertString = 2 };
enum AlertClass { kAlertClassError = 0, kAlertClassWarning = 1, kAlertClassOther = 2 };

struct PSSDALERTDETAIL {
    uint64_t value = 0;                             // path 1.2.a.2.b.1
    std::array<char, kAlertEntryTextField> text{};  // path 1.2.a.2.b.3
};

struct PSSDALERTINFO {
    uint64_t item1_4_3 = 0;
    uint64_t item1_4_2 = 0;
    uint64_t item1_1 = 0;
    uint64_t item1_2_1 = 0;
    uint64_t item1_2_2 = 0;
    uint64_t item1_3 = 0;
    uint64_t item4 = 0;
    uint64_t entryCount = 0;  // == entries.size()
    int32_t alertClass = kAlertClassError;
    // A new entry starts with value 0 and an empty text until its items arrive.
    std::vector<PSSDALERTDETAIL> entries;
    std::array<char, kAlertTextField> text1_4_9{};
    std::array<char, kAlertTextField> text1_4_10{};
};

struct AlertWidths {
    int idWidth = 0;
    int typeWidth = 0;
    int countWidth = 0;
    int containerLengthWidth = 0;
    int valueLengthWidth = 0;
};

// The raw alert block being walked: `size` bytes from `data`.
struct AlertBlock {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Parses `length` bytes of an assembled response into a new list in *alerts.
// The caller sets *count to 0; on success it holds the number of alerts (> 0).
// 0 on success, -1 when the response does not start with 0xA5, the block is
// malformed or out of bounds, or the tree holds no alert.
int GetExtAlertInformation(const uint8_t* response, int length, std::vector<PSSDALERTINFO>* alerts,
                           int* count);

// Checks and walks one raw block of at most `available` bytes.  With no list it
// only counts alerts into *count; with a list (sized by a counting pass) it fills it.
int ParseRawDataForAlerts(const uint8_t* block, size_t available,
                          std::vector<PSSDALERTINFO>* alerts, int* count);

// Reads the five widths from `length` bytes of header text (starting at "P{").
// Writes string terminators into the text.  -1 when a group lacks its '}' or a
// width is negative or above kAlertMaxFieldWidth.
int ParseHeaderStringInfo(char* text, size_t length, AlertWidths* widths);

// Walks the container at `position` whose path is `path`.  `alertNumber` and
// `entryNumber` are this level's copies; `current` is the alert values go to
// (none while counting).  Every item visited, at any depth, takes one from
// `itemsLeft`; the walk fails when none is left.  0, or -1 when an item breaks
// the block's bounds or the budget runs out.
int ParseExtAlert(const char* path, const AlertBlock& block, size_t position, int alertNumber,
                  int entryNumber, PSSDALERTINFO* current, std::vector<PSSDALERTINFO>* alerts,
                  int* count, const AlertWidths& widths, uint64_t& itemsLeft, int depth = 0);

// Item readers.  Each checks that what it reads lies inside the block and
// returns false otherwise; positions advance by whole fields.
// Element count of the container at pos; pos moves to its first element.
bool GetNoOfElement(const AlertBlock& block, size_t& pos, const AlertWidths& widths,
                    uint64_t* count);
// Identifier and type (low bytes) of the item at pos; pos does not move.
bool GetItemInfo(const AlertBlock& block, size_t pos, const AlertWidths& widths, int* identifier,
                 int* type);
// Steps over the container at pos, header and content.
bool ParseContainerInfo(const AlertBlock& block, size_t& pos, const AlertWidths& widths);
// Value of the integer at pos (a value longer than 8 bytes gives its low 64 bits).
bool ParseIntegerInfo(const AlertBlock& block, size_t& pos, const AlertWidths& widths,
                      uint64_t* value);
// Text of the string at pos into a cleared scratch field, cut to kAlertMaxText.
bool ParseStringInformation(const AlertBlock& block, size_t& pos, const AlertWidths& widths,
                            std::array<char, kAlertTextField>* scratch);
// Steps over an item of any other type.
bool ParseUnknownDataType(const AlertBlock& block, size_t& pos, const AlertWidths& widths);

// The unsigned big-endian number of `width` raw bytes at base + offset; 0 for a
// width of 0 or less.  Wider than 8 bytes gives the low 64 bits.
uint64_t HexStrToLong(const uint8_t* base, long offset, int width);

// Alert class from byte 10 of a response: bit 0 -> error (0), else bit 1 ->
// warning (1), else other (2).
int getAlertType(const uint8_t* response);

// Copies a terminated string into `capacity` bytes (cut, always terminated);
// returns the length copied.
size_t decodeString(const char* source, char* destination, size_t capacity);

// The text a status thread reports for an alert: the text of its first detail
// entry; when the alert has no detail entry, or that entry's text is empty, the
// alert's own text (path 1.2.a.1.4.9); empty when neither carries a text, and
// then nothing is reported for the alert.  Control characters (a printer-made
// line feed would start a spooler command line of its own) become spaces.
std::string alertReportText(const PSSDALERTINFO& alert);

// What a status thread reports for an assembled response of `length` bytes:
// nothing (an empty list) unless it parses and its first alert is of the error
// class; otherwise alertReportText() of each alert, in order (empty for an
// alert without any text, which gives no line).
std::vector<std::string> errorAlertReportTexts(const uint8_t* response, int length);
