#include "platform/mci/Scanner.h"

#include "platform/mci/ErrorText.h"

namespace mci {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

void Scanner::skipBlanks()
{
    while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
        ++m_pos;
}

bool Scanner::atEnd()
{
    skipBlanks();
    return m_pos >= m_text.size();
}

std::optional<Token> Scanner::quoted(QString *error)
{
    const qsizetype start = m_pos;
    const qsizetype close = m_text.indexOf(u'"', start + 1);
    if (close < 0) {
        *error = errortext::unclosedQuote(m_text.mid(start));
        return std::nullopt;
    }
    // A closing quote must end the token: "a"b could mean two things.
    if (close + 1 < m_text.size() && !isBlank(m_text[close + 1])) {
        qsizetype end = close + 1;
        while (end < m_text.size() && !isBlank(m_text[end]))
            ++end;
        *error = errortext::badQuote(m_text.mid(start, end - start));
        return std::nullopt;
    }
    m_pos = close + 1;
    return Token{m_text.mid(start + 1, close - start - 1).toString(), true, start};
}

std::optional<Token> Scanner::next(QString *error)
{
    if (atEnd())
        return std::nullopt;
    if (m_text[m_pos] == u'"')
        return quoted(error);
    const qsizetype start = m_pos;
    while (m_pos < m_text.size() && !isBlank(m_text[m_pos]))
        ++m_pos;
    const QStringView word = m_text.mid(start, m_pos - start);
    if (word.contains(u'"')) {
        *error = errortext::badQuote(word);
        return std::nullopt;
    }
    return Token{word.toString(), false, start};
}

std::optional<Token> Scanner::peek()
{
    const qsizetype saved = m_pos;
    QString ignored;
    std::optional<Token> token = next(&ignored);
    m_pos = saved;
    return token;
}

} // namespace mci
