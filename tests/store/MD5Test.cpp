#include "store/MD5.h"

#include <gtest/gtest.h>

TEST(MD5Test, DigestsTheTestSuiteOfTheMD5Standard) {
    struct Case {
        QByteArray input;
        QByteArray digest;
    };
    const Case cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MD5Digest(c.input), c.digest) << c.input.constData();
}

TEST(MD5Test, DigestsEveryByteIncludingZeroAndHighBytes) {
    // A title with a NUL or a non-ASCII byte must be digested whole and as it is.
    struct Case {
        QByteArray input;
        QByteArray digest;
    };
    const Case cases[] = {
        {QByteArray("a\0b", 3), "70350F6027BCE3713F6B76473084309B"},
        {"\xE9", "3406877694691DDD1DFB0ACA54681407"},
        {"\xC3\xA9", "66DDCD97CFDEABB2F6FB8A999B4BC76F"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MD5Digest(c.input), c.digest) << c.input.toHex().constData();
}
