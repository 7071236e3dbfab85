// The status table: every code once, the standard texts in their places, lookups by number.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "domain/status_texts.h"
#include "domain/text.h"

using namespace zelk;

TEST(StatusTable, CodesOnceAndStandardTextsInTheirPlaces) {
    std::set<int> codes;
    for (const StatusRow& r : kStatusTable) {
        EXPECT_TRUE(codes.insert(Code(r.code)).second) << r.name;
        EXPECT_NE(std::string(r.gloss), "") << r.name;
        EXPECT_EQ(FindStatus(Code(r.code)), &r) << r.name;
    }
    // Places 5 and 6 hold the channel statuses' texts; every other place its code's text.
    for (int i = 0; i < kStatusTextCount; ++i) {
        const char* expected = i == 5   ? StatusText(Status::ChannelUnused)
                               : i == 6 ? StatusText(Status::ChannelUndefined)
                                        : FindStatus(i)->text;
        EXPECT_STREQ(StatusTexts[i], expected) << i;
    }
    EXPECT_STREQ(StatusTexts[5], "Kanál nepoužit"_cp);
    EXPECT_STREQ(StatusTexts[6], "Kanál nedefinován"_cp);
    EXPECT_STREQ(StatusText(Status::ModuleNotFound), "Nenalezen požadovaný USB modul."_cp);
}

TEST(StatusTable, LookupsByNumber) {
    struct Case {
        int32_t number;
        const char* gloss;
    };
    const Case cases[] = {
        {0, "OK"},
        {5, "requested USB module not found"},
        {6, "channel not defined"},  // the place of the undefined channel's text
        {17, "this ZELK module is not supported by the driver"},
        {99, "channel not used yet"},
        {100, "channel not defined"},
        {-1, ""},
        {18, ""},
        {98, ""},
        {101, ""},
        {255, ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(StatusGloss(c.number), c.gloss) << c.number;
    // A detail follows the table text after " - "; text 10's own trailing blank stays.
    EXPECT_EQ(StatusText(Status::D2xxCall, "x"), "Chyba volání funkce knihovny FTDI  - x"_cp);
}
