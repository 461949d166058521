#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace mci {

// Blanks separate tokens: the space and the tab.
bool isBlank(QChar c);

struct Token {
    QString text;        // without the quotes of a quoted token
    bool quoted = false;
    qsizetype start = 0; // where the token begins in the scanned text, quote included
};

// The tokenizer: a cursor over one command's text. Tokens are runs of non-blanks, or text in
// double quotes that may hold blanks. Paths and device names cannot always be tokens (an
// unquoted path runs over blanks), so the parser may also take raw text from the cursor.
class Scanner {
public:
    explicit Scanner(QStringView text) : m_text(text) {}

    void skipBlanks();
    bool atEnd(); // after skipping blanks

    // The next token. On a bad token returns nothing and sets error to the message.
    std::optional<Token> next(QString *error);
    // The next token without moving on; no error when it is bad (the next next() reports it).
    std::optional<Token> peek();

    // A quoted string at the cursor (which must be on the opening quote).
    std::optional<Token> quoted(QString *error);

    QStringView rest() const { return m_text.mid(m_pos); }
    qsizetype position() const { return m_pos; }
    void advance(qsizetype count) { m_pos += count; }
    QStringView text() const { return m_text; }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

} // namespace mci
