// Extended-alert parsing: the item tree, paths, classes and bounds.
#include <gtest/gtest.h>

#include <string>

#include "status/NPAParser.h"
#include "status/NPAValidator.h"
#include "tests/status/testutil.h"
#include "tools/printersim/alertbuilder.h"

namespace {

using printersim::AlertItem;
using printersim::BlockLayout;
using printersim::SimAlert;
using printersim::SimDetail;

// Parses a response held in a buffer of exactly its size.
int parse(const Bytes& response, std::vector<PSSDALERTINFO>* alerts) {
    Bytes exact(response);
    int count = 0;
    int r = GetExtAlertInformation(exact.data(), static_cast<int>(exact.size()), alerts, &count);
    if (r == 0) {
        EXPECT_EQ(static_cast<size_t>(count), alerts->size());
    }
    return r;
}

Bytes responseOf(const AlertItem& root, uint8_t classBits = printersim::kClassError,
                 const BlockLayout& layout = {}) {
    return printersim::alertResponse(printersim::alertBlock(root, layout), classBits);
}

// root 1 { 1.2 { children } }
AlertItem listOf(std::vector<AlertItem> alerts) {
    return AlertItem::container(1, {AlertItem::container(2, std::move(alerts))});
}

TEST(AlertParser, EveryRecognisedPathLandsInItsField) {
    SimAlert a;
    a.item1_1 = 11;
    a.item1_2_1 = 121;
    a.item1_2_2 = 122;
    a.item1_3 = 13;
    a.item1_4_2 = 142;
    a.item1_4_3 = 143;
    a.item4 = 4;
    a.text1_4_9 = "Tray 2";
    a.text1_4_10 = "Load paper";
    a.details = {{77, "Paper jam in tray 2"}};
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(printersim::alertResponse({a}, printersim::kClassError), &alerts), 0);
    ASSERT_EQ(alerts.size(), 1u);
    const PSSDALERTINFO& got = alerts[0];
    EXPECT_EQ(got.item1_1, 11u);
    EXPECT_EQ(got.item1_2_1, 121u);
    EXPECT_EQ(got.item1_2_2, 122u);
    EXPECT_EQ(got.item1_3, 13u);
    EXPECT_EQ(got.item1_4_2, 142u);
    EXPECT_EQ(got.item1_4_3, 143u);
    EXPECT_EQ(got.item4, 4u);
    EXPECT_EQ(text(got.text1_4_9.data()), "Tray 2");
    EXPECT_EQ(text(got.text1_4_10.data()), "Load paper");
    ASSERT_EQ(got.entryCount, 1u);
    EXPECT_EQ(got.entries[0].value, 77u);
    EXPECT_EQ(text(got.entries[0].text.data()), "Paper jam in tray 2");
    EXPECT_EQ(got.alertClass, kAlertClassError);
}

TEST(AlertParser, TwoAlertsWithTwoDetailEntriesKeepTheirOrder) {
    SimAlert a;
    a.details = {{1, "first entry"}, {2, "second entry"}};
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(printersim::alertResponse({a, SimAlert::withText("other alert")},
                                              printersim::kClassError),
                    &alerts),
              0);
    ASSERT_EQ(alerts.size(), 2u);
    ASSERT_EQ(alerts[0].entryCount, 2u);
    EXPECT_EQ(text(alerts[0].entries[0].text.data()), "first entry");
    EXPECT_EQ(text(alerts[0].entries[1].text.data()), "second entry");
    EXPECT_EQ(alerts[0].entries[1].value, 2u);
    ASSERT_EQ(alerts[1].entryCount, 1u);
    EXPECT_EQ(text(alerts[1].entries[0].text.data()), "other alert");
}

TEST(AlertParser, AlertsNumberedOneAndThreeGiveOne) {
    SimAlert one = SimAlert::withText("one");
    SimAlert three = SimAlert::withText("three");
    three.number = 3;
    three.item4 = 99;
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(printersim::alertResponse({one, three}, printersim::kClassError), &alerts), 0);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].entryCount, 1u);
    EXPECT_EQ(text(alerts[0].entries[0].text.data()), "one");
    EXPECT_EQ(alerts[0].item4, 0u);  // alert 3's values are stored nowhere
}

TEST(AlertParser, WithoutTypeKeyEveryItemIsAContainer) {
    // 1.2.1 { 1.2.1.2 { 1.2.1.2.1 { } } }, written without type bytes.
    AlertItem root =
        listOf({AlertItem::container(1, {AlertItem::container(2, {AlertItem::container(1, {})})})});
    BlockLayout layout;
    layout.omitTypeKey = true;
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(responseOf(root, printersim::kClassError, layout), &alerts), 0);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].entryCount, 1u);
    EXPECT_EQ(alerts[0].entries[0].text[0], '\0');  // a new entry starts empty
}

TEST(AlertParser, ClassComesFromByteTen) {
    struct Case {
        uint8_t bits;
        int alertClass;
    };
    for (Case c : {Case{0x01, 0}, Case{0x03, 0}, Case{0x02, 1}, Case{0x00, 2}, Case{0x04, 2}}) {
        std::vector<PSSDALERTINFO> alerts;
        ASSERT_EQ(parse(printersim::alertResponse(
                            {SimAlert::withText("x"), SimAlert::withText("y")}, c.bits),
                        &alerts),
                  0);
        for (const PSSDALERTINFO& a : alerts)
            EXPECT_EQ(a.alertClass, c.alertClass) << int(c.bits);
    }
}

TEST(AlertParser, EmptyStringLeavesFieldEmpty) {
    SimAlert a;
    a.details = {{5, ""}};
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(printersim::alertResponse({a}, printersim::kClassError), &alerts), 0);
    EXPECT_EQ(alerts[0].entries[0].text[0], '\0');
    EXPECT_EQ(alerts[0].entries[0].value, 5u);
}

TEST(AlertParser, HexStrToLongReadsRawBigEndianBytes) {
    Bytes b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(HexStrToLong(b.data(), 0, 2), 258u);
    EXPECT_EQ(HexStrToLong(b.data(), 0, 0), 0u);
    EXPECT_EQ(HexStrToLong(b.data(), 0, -1), 0u);
    EXPECT_EQ(HexStrToLong(b.data(), 1, 1), 2u);
    EXPECT_EQ(HexStrToLong(b.data(), 0, 8), 0x0102030405060708u);
}

TEST(AlertParser, RejectsResponsesWithoutAlerts) {
    std::vector<PSSDALERTINFO> alerts;
    Bytes good = printersim::alertResponse({SimAlert::withText("x")}, printersim::kClassError);
    Bytes notNpa = good;
    notNpa[0] = 0xA4;
    EXPECT_EQ(parse(notNpa, &alerts), -1);
    Bytes noMarker = good;
    noMarker[25 + 4] = 'Q';
    EXPECT_EQ(parse(noMarker, &alerts), -1);
    BlockLayout unclosed;
    unclosed.headerOverride = "P{ID:1,DT:1},C{NE:2,LD:2},V{LD:2";
    EXPECT_EQ(parse(responseOf(printersim::alertTree({SimAlert::withText("x")}),
                               printersim::kClassError, unclosed),
                    &alerts),
              -1);
    EXPECT_EQ(
        parse(printersim::alertResponse(std::vector<SimAlert>{}, printersim::kClassError), &alerts),
        -1);
    EXPECT_TRUE(alerts.empty());
}

// The header's keys may come in any order, with any separators.
TEST(AlertParser, HeaderKeysInAnyOrder) {
    std::string header = "P{DT:1 ID:1}\r\n{LD:2;NE:2}\r\n{LD:2}";
    std::vector<char> textCopy(header.begin(), header.end());
    AlertWidths w;
    ASSERT_EQ(ParseHeaderStringInfo(textCopy.data(), textCopy.size(), &w), 0);
    EXPECT_EQ(w.idWidth, 1);
    EXPECT_EQ(w.typeWidth, 1);
    EXPECT_EQ(w.countWidth, 2);
    EXPECT_EQ(w.containerLengthWidth, 2);
    EXPECT_EQ(w.valueLengthWidth, 2);
}

// --- Bounds (regressions: the parser must never read outside the block) ---

TEST(AlertParserBounds, ContainerLengthPastBlockFails) {
    AlertItem root = printersim::alertTree({SimAlert::withText("x")});
    root.children[1].declaredLength = 5000;  // 1.2 claims more than the block holds
    std::vector<PSSDALERTINFO> alerts;
    EXPECT_EQ(parse(responseOf(root), &alerts), -1);
}

TEST(AlertParserBounds, StringLengthPastBlockFails) {
    AlertItem root = printersim::alertTree({SimAlert::withText("x")});
    AlertItem& text = root.children[1].children[0].children[1].children[0].children[1];
    ASSERT_EQ(text.type, AlertItem::kString);
    text.declaredLength = 900;
    std::vector<PSSDALERTINFO> alerts;
    EXPECT_EQ(parse(responseOf(root), &alerts), -1);
}

TEST(AlertParserBounds, BlockLongerThanAssembledResponseFails) {
    Bytes r = printersim::alertResponse({SimAlert::withText("Paper jam")}, printersim::kClassError);
    Bytes cut(r.begin(), r.end() - 4);  // the block's own length now reaches past the end
    std::vector<PSSDALERTINFO> alerts;
    EXPECT_EQ(parse(cut, &alerts), -1);
}

TEST(AlertParserBounds, MoreElementsThanContentFails) {
    AlertItem root = printersim::alertTree({SimAlert::withText("x")});
    root.children[1].children[0].declaredCount = 60000;  // alert 1 claims 60000 elements
    std::vector<PSSDALERTINFO> alerts;
    EXPECT_EQ(parse(responseOf(root), &alerts), -1);
}

TEST(AlertParserBounds, LongStringIsCutAndParsingGoesOn) {
    SimAlert a;
    a.details = {{1, std::string(300, 'J')}, {2, "after the long one"}};
    a.text1_4_9 = std::string(400, 'T');
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(printersim::alertResponse({a}, printersim::kClassError), &alerts), 0);
    EXPECT_EQ(text(alerts[0].entries[0].text.data()), std::string(254, 'J'));
    EXPECT_EQ(text(alerts[0].entries[1].text.data()), "after the long one");
    EXPECT_EQ(text(alerts[0].text1_4_9.data()), std::string(254, 'T'));
}

TEST(AlertParserBounds, FieldWidthAboveEightIsRejected) {
    for (const char* header :
         {"P{ID:9,DT:1},C{NE:2,LD:2},V{LD:2}", "P{ID:1,DT:1},C{NE:2,LD:2},V{LD:12}",
          "P{ID:1,DT:-1},C{NE:2,LD:2},V{LD:2}"}) {
        std::string h = header;
        std::vector<char> copy(h.begin(), h.end());
        AlertWidths w;
        EXPECT_EQ(ParseHeaderStringInfo(copy.data(), copy.size(), &w), -1) << header;
    }
}

TEST(AlertParserBounds, WideIntegerGivesItsLowBytes) {
    AlertItem alert = AlertItem::container(
        1, {AlertItem::container(
               2, {AlertItem::container(1, {AlertItem::integer(1, 0x1122334455667788u, 12)})})});
    std::vector<PSSDALERTINFO> alerts;
    ASSERT_EQ(parse(responseOf(listOf({alert})), &alerts), 0);
    EXPECT_EQ(alerts[0].entries[0].value, 0x1122334455667788u);
}

TEST(AlertParserBounds, DeepNestingIsBounded) {
    AlertItem deep = AlertItem::container(1, {});
    for (int i = 0; i < 300; ++i)
        deep = AlertItem::container(1, {deep});
    AlertItem alert = AlertItem::container(1, {std::move(deep)});
    std::vector<PSSDALERTINFO> alerts;
    BlockLayout layout;  // 300 levels of 6-byte headers fit the 2-byte lengths
    ASSERT_EQ(parse(responseOf(listOf({alert}), printersim::kClassError, layout), &alerts), 0);
    EXPECT_EQ(alerts.size(), 1u);
}

// --- What the status threads report for an alert ---

TEST(AlertReportText, FirstDetailThenOwnTextThenNothing) {
    PSSDALERTINFO a;
    EXPECT_EQ(alertReportText(a), "");
    std::snprintf(a.text1_4_9.data(), a.text1_4_9.size(), "Tray 1 empty");
    EXPECT_EQ(alertReportText(a), "Tray 1 empty");
    a.entries.emplace_back();
    EXPECT_EQ(alertReportText(a), "Tray 1 empty");  // an entry without text
    std::snprintf(a.entries[0].text.data(), a.entries[0].text.size(), "Load A4");
    EXPECT_EQ(alertReportText(a), "Load A4");
}

TEST(AlertReportText, ErrorResponseGivesEachAlertsTextOthersNothing) {
    SimAlert silent;  // neither a detail entry nor a text of its own
    std::vector<SimAlert> alerts = {SimAlert::withText("Jam"), silent, SimAlert::withText("Door")};
    Bytes error = printersim::alertResponse(alerts, printersim::kClassError);
    const int length = static_cast<int>(error.size());
    EXPECT_EQ(errorAlertReportTexts(error.data(), length),
              (std::vector<std::string>{"Jam", "", "Door"}));
    EXPECT_TRUE(errorAlertReportTexts(error.data(), 20).empty());  // does not parse
    Bytes warning = printersim::alertResponse(alerts, printersim::kClassWarning);
    EXPECT_TRUE(errorAlertReportTexts(warning.data(), length).empty());
}

// Regression: a printer-made line feed must not start a spooler line of its own.
TEST(AlertReportText, ControlCharactersBecomeSpaces) {
    PSSDALERTINFO a;
    a.entries.emplace_back();
    std::snprintf(a.entries[0].text.data(), a.entries[0].text.size(), "Jam\nSTATE: paused\r");
    EXPECT_EQ(alertReportText(a), "Jam STATE: paused ");
}

// The builder's packets, reassembled by the validator, parse to the same alerts.
TEST(AlertParser, SplitResponseRoundTrip) {
    npaValidatorReset();
    Bytes r = printersim::alertResponse(
        {SimAlert::withText("Paper jam"), SimAlert::withText("Toner low")},
        printersim::kClassError);
    int assembled = 0;
    int done = 1;
    bool complete = false;
    for (const Bytes& p : printersim::splitIntoPackets(r, 4)) {
        Bytes exact(p);
        complete = ValidateReceivedResponse(exact.data(), validBuffer.data(),
                                            static_cast<int>(exact.size()), &assembled, &done);
    }
    ASSERT_TRUE(complete);
    std::vector<PSSDALERTINFO> alerts;
    int count = 0;
    ASSERT_EQ(GetExtAlertInformation(validBuffer.data(), assembled, &alerts, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(alertReportText(alerts[0]), "Paper jam");
    EXPECT_EQ(alertReportText(alerts[1]), "Toner low");
}

}  // namespace
