#include "media/GetToken.h"

#include <gtest/gtest.h>

namespace {

// The n-th field between delimiters, counted from 1 (below 1: the first).
TEST(GetToken, CutsTheField)
{
    const struct {
        const char *text;
        int n;
        const char *delimiter;
        const char *expected;
    } cases[] = {
        // The "where" reply: four numbers.
        {"0 0 320 240", 1, " ", "0"}, {"0 0 320 240", 3, " ", "320"},
        {"0 0 320 240", 4, " ", "240"}, {"0 0 320 240", 5, " ", ""},
        {"0 0 320 240", 0, " ", "0"}, {"0 0 320 240", -7, " ", "0"},
        // Adjacent delimiters make an empty field.
        {"ab  cd", 2, " ", ""}, {"ab  cd", 3, " ", "cd"},
        // A trailing delimiter: the field after it is empty.
        {"ab cd ", 3, " ", ""}, {"ab cd ", 2, " ", "cd"},
        // The empty text.
        {"", 1, " ", ""}, {"", 2, " ", ""}, {"", 0, " ", ""},
        // No delimiter at all.
        {"whole", 1, " ", "whole"}, {"whole", 2, " ", ""},
        // The last field keeps whatever follows the last delimiter.
        {"a b c d\r\n", 4, " ", "d\r\n"},
        // A longer delimiter: the scan resumes one character after its start.
        {"a--b--c", 2, "--", "-b"}, {"a--b--c", 1, "--", "a"},
        // Japanese text is counted in characters.
        {"東京 大阪 名古屋", 3, " ", "名古屋"}};
    for (const auto &c : cases) {
        EXPECT_EQ(GetToken(QString::fromUtf8(c.text), c.n, QString::fromUtf8(c.delimiter)),
                  QString::fromUtf8(c.expected))
            << "text '" << c.text << "' n " << c.n;
    }
}

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
