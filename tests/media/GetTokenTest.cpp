#include "media/GetToken.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *text;
    int n;
    const char *delimiter;
    const char *expected;
};

class GetTokenCases : public ::testing::TestWithParam<Case> {};

TEST_P(GetTokenCases, CutsTheField)
{
    const Case c = GetParam();
    EXPECT_EQ(GetToken(QString::fromUtf8(c.text), c.n, QString::fromUtf8(c.delimiter)),
              QString::fromUtf8(c.expected))
        << "text '" << c.text << "' n " << c.n;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, GetTokenCases,
    ::testing::Values(
        // The "where" reply: four numbers.
        Case{"0 0 320 240", 1, " ", "0"}, Case{"0 0 320 240", 3, " ", "320"},
        Case{"0 0 320 240", 4, " ", "240"}, Case{"0 0 320 240", 5, " ", ""},
        Case{"0 0 320 240", 0, " ", "0"}, Case{"0 0 320 240", -7, " ", "0"},
        // Adjacent delimiters make an empty field.
        Case{"ab  cd", 2, " ", ""}, Case{"ab  cd", 3, " ", "cd"},
        // A trailing delimiter: the field after it is empty.
        Case{"ab cd ", 3, " ", ""}, Case{"ab cd ", 2, " ", "cd"},
        // The empty text.
        Case{"", 1, " ", ""}, Case{"", 2, " ", ""}, Case{"", 0, " ", ""},
        // No delimiter at all.
        Case{"whole", 1, " ", "whole"}, Case{"whole", 2, " ", ""},
        // The last field keeps whatever follows the last delimiter.
        Case{"a b c d\r\n", 4, " ", "d\r\n"},
        // A longer delimiter: the scan resumes one character after its start.
        Case{"a--b--c", 2, "--", "-b"}, Case{"a--b--c", 1, "--", "a"},
        // Japanese text is counted in characters.
        Case{"東京 大阪 名古屋", 3, " ", "名古屋"}));

TEST(GetToken, AnyLengthAndAnyNIsSafe)
{
    const QString longText = QString(70000, QLatin1Char('x')) + QLatin1String(" tail");
    EXPECT_EQ(GetToken(longText, 2, QStringLiteral(" ")), QStringLiteral("tail"));
    EXPECT_EQ(GetToken(longText, INT_MAX, QStringLiteral(" ")), QString());
    EXPECT_EQ(GetToken(longText, INT_MIN, QStringLiteral(" ")).size(), 70000);
    // An empty delimiter is found everywhere; it must still end.
    EXPECT_EQ(GetToken(QStringLiteral("abc"), 2, QString()), QString());
    EXPECT_EQ(GetToken(QStringLiteral("abc"), INT_MAX, QString()), QString());
}

} // namespace
