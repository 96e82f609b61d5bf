#include "tests/fuzz/fuzz_entry.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "status/NPAParser.h"
#include "status/NPAValidator.h"
#include "status/OIRCommandResp.h"

namespace {

// Invariants that hold whatever the input; a break stops the run.
void check(bool ok) {
    if (!ok) __builtin_trap();
}

void parseAlerts(const uint8_t* response, int length) {
    std::vector<PSSDALERTINFO> alerts;
    int count = 0;
    if (GetExtAlertInformation(response, length, &alerts, &count) == 0) {
        check(count > 0 && static_cast<size_t>(count) == alerts.size());
        for (const PSSDALERTINFO& a : alerts) {
            check(a.entryCount == a.entries.size());
            std::string text = alertReportText(a);
            check(text.size() < kAlertEntryTextField);
            check(std::none_of(text.begin(), text.end(), [](char c) { return c == '\n'; }));
        }
    } else {
        check(alerts.empty());
    }
}

void validate(const std::vector<uint8_t>& input) {
    int assembled = 0;
    int done = 1;
    bool complete = ValidateReceivedResponse(input.data(), validBuffer.data(),
                                             static_cast<int>(input.size()), &assembled, &done);
    check(assembled >= 0 && static_cast<size_t>(assembled) <= kValidBufferSize);
    check(npaValidatorState.scanStop >= 0 &&
          npaValidatorState.scanStop <= static_cast<int>(input.size()));
    if (complete) {
        check(done == -1);
        parseAlerts(validBuffer.data(), assembled);
    }
}

}  // namespace

void fuzzStatusInput(const uint8_t* data, size_t size) {
    size = std::min<size_t>(size, 1 << 16);
    // Exact-size copies, so that a read past the input is a read past a heap block.
    npaValidatorReset();
    size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    validate(std::vector<uint8_t>(data, data + cut));
    validate(std::vector<uint8_t>(data + cut, data + size));

    std::vector<uint8_t> whole(data, data + size);
    parseAlerts(whole.empty() ? nullptr : whole.data(), static_cast<int>(size));
    if (size > kAlertBlockOffset) {
        std::vector<uint8_t> block(data + kAlertBlockOffset, data + size);
        std::vector<PSSDALERTINFO> alerts;
        int count = 0;
        ParseRawDataForAlerts(block.data(), block.size(), nullptr, &count);
    }

    OIRCommandResp resp;
    int records = 0;
    if (resp.ParseOIRResponse(whole.data(), static_cast<uint16_t>(std::min<size_t>(size, 65535)),
                              &records) == 1) {
        check(records >= 0 && static_cast<size_t>(records) == resp.records.size());
        std::vector<std::string> texts(static_cast<size_t>(records));
        resp.mappedString(&texts);
        for (const std::string& t : texts)
            check(t.size() < kOirTextSize);
    }

    std::vector<char> header(data, data + std::min<size_t>(size, 64));
    AlertWidths widths;
    if (ParseHeaderStringInfo(header.data(), header.size(), &widths) == 0) {
        check(widths.idWidth >= 0 && widths.idWidth <= kAlertMaxFieldWidth);
        check(widths.valueLengthWidth >= 0 && widths.valueLengthWidth <= kAlertMaxFieldWidth);
    }
}
