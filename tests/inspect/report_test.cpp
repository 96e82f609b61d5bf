// The JSON writer and the two reports.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/inspect.h"
#include "tools/inspect/json.h"
#include "tools/inspect/report.h"

using jobtest::operator+;
using jobtest::operator+=;

using inspect::jsonString;

namespace {

TEST(InspectJson, StringsAreEscapedAndAlwaysValidUtf8) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("\n\t\r\b\f"), "\"\\n\\t\\r\\b\\f\"");
    EXPECT_EQ(jsonString(std::string("\x1b\x01\x7f", 3)), "\"\\u001B\\u0001\\u007F\"");
    EXPECT_EQ(jsonString(std::string("nul\0end", 7)), "\"nul\\u0000end\"");
    // Valid UTF-8 (2, 3 and 4 bytes) passes unchanged.
    EXPECT_EQ(jsonString("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8"),
              "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x96\xA8\"");
    // Label: a stray continuation byte, a cut sequence, an overlong '/' and a
    // surrogate each become U+FFFD.
    EXPECT_EQ(jsonString("a\x80"
                         "b"),
              "\"a\xEF\xBF\xBD"
              "b\"");
    EXPECT_EQ(jsonString("\xE2\x82"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(InspectJson, WriterNestsWithCommasAndIndentation) {
    std::string out;
    inspect::JsonWriter w(out);
    w.beginObject();
    w.member("n", 3);
    w.member("ok", true);
    w.key("list");
    w.beginArray();
    w.value(1.5);
    w.null();
    w.beginObject();
    w.endObject();
    w.endArray();
    w.key("empty");
    w.beginArray();
    w.endArray();
    w.member("nan", std::nan(""));
    w.endObject();
    EXPECT_EQ(out,
              "{\n"
              "  \"n\": 3,\n"
              "  \"ok\": true,\n"
              "  \"list\": [\n"
              "    1.5,\n"
              "    null,\n"
              "    {}\n"
              "  ],\n"
              "  \"empty\": [],\n"
              "  \"nan\": null\n"
              "}\n");
}

TEST(InspectReport, SummaryAndJsonTellTheSameStory) {
    jobtest::JobOptions o;
    o.pages = 2;
    jobtest::Bytes job = jobtest::whiteJob(o);
    // A job title with a quote and a control byte must survive both reports.
    jobtest::PjlOptions pjl;
    pjl.jobName = "say \"hi\"\x01";
    const jobtest::Bytes header = jobtest::pjlHeader();
    const jobtest::Bytes named = jobtest::pjlHeader(pjl);
    const size_t at = jobtest::find(job, header);
    job.erase(job.begin() + static_cast<ptrdiff_t>(at),
              job.begin() + static_cast<ptrdiff_t>(at + header.size()));
    job.insert(job.begin() + static_cast<ptrdiff_t>(at), named.begin(), named.end());
    job.push_back('!');  // one byte too many: the job is malformed

    const inspect::InspectResult r = inspect::inspectJob(job);
    ASSERT_EQ(r.errors.size(), 1u);
    const std::string text = inspect::textReport("job.prn", r, nullptr);
    EXPECT_NE(text.find("MALFORMED"), std::string::npos) << text;
    EXPECT_NE(text.find("Pages: 2"), std::string::npos) << text;
    EXPECT_NE(text.find("A4 (MediaSize 2)"), std::string::npos) << text;
    EXPECT_NE(text.find("32 x 16 pixels in 1 image"), std::string::npos) << text;
    EXPECT_NE(text.find("at offset " + std::to_string(job.size() - 1) +
                        ": 1 bytes after the end of the job"),
              std::string::npos)
        << text;

    const std::string json = inspect::jsonReport("job.prn", r, nullptr);
    EXPECT_NE(json.find("\"ok\": false"), std::string::npos);
    EXPECT_NE(json.find("\"JOBNAME\": \"say \\\"hi\\\"\\u0001\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"restartMarkers\": 2"), std::string::npos);
    EXPECT_NE(json.find("\"offset\": " + std::to_string(job.size() - 1)), std::string::npos);
    EXPECT_NE(json.find("\"index\": 2"), std::string::npos);
}

}  // namespace
