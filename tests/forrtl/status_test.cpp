#include <gtest/gtest.h>

#include <set>

#include "for_status.h"

using namespace forrtl;

// The catalogue holds 368 entries, each code once, and every group carries
// its severity.
TEST(Catalogue, CountsCodesAndSeverities) {
    ASSERT_EQ(kMessageCatalogueSize, 368u);
    std::set<Status> codes;
    for (std::size_t i = 0; i < kMessageCatalogueSize; ++i) {
        EXPECT_TRUE(codes.insert(kMessageCatalogue[i].code).second) << i;
        std::string text = kMessageCatalogue[i].text;
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << i;
    }
    struct Row { unsigned number; unsigned severity; const char* text; };
    const Row rows[] = {
        {0, SEV_SUCCESS, "operation completed successfully\r\n"},
        {58, SEV_INFO, "format syntax error at or near %.*s\r\n"},
        {6, SEV_INFO, nullptr},
        {63, SEV_ERROR, "output conversion error, unit %d, file %s\r\n"},
        {200, SEV_ERROR, "program aborting due to %s event\r\n"},
        {29, SEV_SEVERE, "file not found, unit %d, file %s\r\n"},
        {655, SEV_SEVERE, "Using PaneShell is illegal in console application\r\n"},
        {759, SEV_SEVERE, "Illegal subcript in namelist input record\r\n"},
    };
    for (const Row& r : rows) {
        Status s = status_of(r.number);
        EXPECT_EQ(status_severity(s), r.severity) << r.number;
        if (r.text) {
            EXPECT_STREQ(catalogue_text(s), r.text) << r.number;
        }
    }
}
