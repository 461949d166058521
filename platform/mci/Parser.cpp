#include "platform/mci/Parser.h"

#include "platform/mci/CommandTable.h"
#include "platform/mci/ErrorText.h"
#include "platform/mci/Number.h"
#include "platform/mci/Scanner.h"

#include <algorithm>
#include <set>

namespace mci {

namespace {

const QLatin1String kWait("wait");

bool isWord(QStringView token, QLatin1String word)
{
    return token.compare(word, Qt::CaseInsensitive) == 0;
}

bool isKeyword(const Token &token, const char *keyword)
{
    return !token.quoted && isWord(token.text, QLatin1String(keyword));
}

QString keywordText(const ClauseSpec &clause)
{
    QStringList words;
    for (const char *k : clause.keywords)
        words << QLatin1String(k);
    return words.join(QLatin1Char(' '));
}

QStringView trimmedRight(QStringView text)
{
    qsizetype end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    return text.left(end);
}

// Where an unquoted path or name ends: at the first blank run that is followed by one of the
// verb's keywords (as a whole word), or by a "wait" that ends the text; else at the end.
// One pass: where the text's last word ends is found once, not again for every "wait".
qsizetype endOfUnquoted(QStringView rest, const VerbSpec &verb)
{
    const qsizetype lastWordEnd = trimmedRight(rest).size();
    qsizetype i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && !isBlank(rest[i]))
            ++i;
        const qsizetype blankRun = i;
        while (i < rest.size() && isBlank(rest[i]))
            ++i;
        const qsizetype wordStart = i;
        while (i < rest.size() && !isBlank(rest[i]))
            ++i;
        if (wordStart == i)
            break;
        const QStringView word = rest.mid(wordStart, i - wordStart);
        for (const ClauseSpec &clause : verb.clauses) {
            if (isWord(word, QLatin1String(clause.keywords.front())))
                return blankRun;
        }
        if (i == lastWordEnd && isWord(word, kWait))
            return blankRun;
        i = wordStart;
    }
    return rest.size();
}

class CommandParser {
public:
    CommandParser(QStringView text, const QStringList &openDevices)
        : m_scanner(text), m_openDevices(openDevices)
    {
    }

    ParseResult run();

private:
    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }
    bool parseSubject();
    bool parsePath();
    bool parseDevice();
    bool parseClause(const Token &token);
    bool parseArg(const ArgSpec &arg, const ClauseSpec &clause, Value *value);
    bool parseRawPath(const ClauseSpec &clause, Value *value);

    Scanner m_scanner;
    const QStringList &m_openDevices;
    const VerbSpec *m_verb = nullptr;
    QString m_verbText;
    Matched m_matched;
    std::set<int> m_groupsGiven;
    bool m_all = false;
    bool m_wait = false;
    QString m_error;
};

ParseResult CommandParser::run()
{
    if (m_scanner.atEnd())
        return {std::nullopt, errortext::noCommand()};
    const std::optional<Token> verb = m_scanner.next(&m_error);
    if (!verb)
        return {std::nullopt, m_error};
    m_verb = verb->quoted ? nullptr : findVerb(verb->text);
    if (!m_verb)
        return {std::nullopt, errortext::unknownCommand(verb->text)};
    m_verbText = verb->text;
    if (!parseSubject())
        return {std::nullopt, m_error};
    while (!m_scanner.atEnd()) {
        const std::optional<Token> token = m_scanner.next(&m_error);
        if (!token || !parseClause(*token))
            return {std::nullopt, m_error};
    }
    for (const ClauseSpec &clause : m_verb->clauses) {
        if (clause.group != 0 && m_groupsGiven.count(clause.group) == 0)
            return {std::nullopt, errortext::incomplete(m_verbText)};
    }
    Command command{m_verb->build(m_matched), {}, m_all, m_wait};
    if (m_verb->subject != Subject::Path && !m_all)
        command.device = m_matched.subject;
    return {std::move(command), {}};
}

bool CommandParser::parseSubject()
{
    if (m_verb->subject == Subject::Path)
        return parsePath();
    if (m_scanner.atEnd())
        return fail(errortext::noDeviceName(m_verbText));
    if (m_verb->subject == Subject::DeviceOrAll) {
        const std::optional<Token> token = m_scanner.peek();
        if (token && isKeyword(*token, "all")) {
            m_scanner.next(&m_error);
            m_all = true;
            return true;
        }
    }
    return parseDevice();
}

bool CommandParser::parsePath()
{
    if (m_scanner.atEnd())
        return fail(errortext::noPath(m_verbText));
    if (m_scanner.rest().startsWith(u'"')) {
        const std::optional<Token> token = m_scanner.quoted(&m_error);
        if (!token)
            return false;
        if (token->text.isEmpty())
            return fail(errortext::noPath(m_verbText));
        m_matched.subject = token->text;
        return true;
    }
    const QStringView rest = m_scanner.rest();
    const qsizetype end = endOfUnquoted(rest, *m_verb);
    m_matched.subject = trimmedRight(rest.left(end)).toString();
    m_scanner.advance(end);
    return true;
}

bool CommandParser::parseDevice()
{
    const QStringView rest = m_scanner.rest();
    // Longest first, so that "/a b" wins over "/a" for "play /a b".
    QStringList names = m_openDevices;
    std::stable_sort(names.begin(), names.end(),
                     [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &name : names) {
        if (rest.startsWith(name) && (rest.size() == name.size() || isBlank(rest[name.size()]))) {
            m_matched.subject = name;
            m_scanner.advance(name.size());
            return true;
        }
    }
    if (rest.startsWith(u'"')) {
        const std::optional<Token> token = m_scanner.quoted(&m_error);
        if (!token)
            return false;
        m_matched.subject = token->text;
        return true;
    }
    // No open device: take the name the text most likely means, so that the message names
    // it; the dispatcher reports it as not open.
    const qsizetype end = endOfUnquoted(rest, *m_verb);
    m_matched.subject = trimmedRight(rest.left(end)).toString();
    m_scanner.advance(end);
    return true;
}

bool CommandParser::parseClause(const Token &token)
{
    if (isKeyword(token, "wait")) {
        if (m_wait)
            return fail(errortext::twice(token.text));
        m_wait = true;
        return true;
    }
    const auto found = std::find_if(m_verb->clauses.begin(), m_verb->clauses.end(),
                                    [&](const ClauseSpec &clause) {
                                        return isKeyword(token, clause.keywords.front());
                                    });
    if (found == m_verb->clauses.end())
        return fail(errortext::unknownWord(token.text));
    const ClauseSpec &clause = *found;
    if (m_matched.has(clause.tag))
        return fail(errortext::twice(keywordText(clause)));
    if (clause.group != 0 && !m_groupsGiven.insert(clause.group).second)
        return fail(errortext::conflict(keywordText(clause)));

    for (size_t k = 1; k < clause.keywords.size(); ++k) {
        const std::optional<Token> next = m_scanner.next(&m_error);
        if (!next) {
            return m_error.isEmpty() ? fail(errortext::missingValue(keywordText(clause)))
                                     : false;
        }
        if (!isKeyword(*next, clause.keywords[k]))
            return fail(errortext::unknownWord(next->text));
    }
    std::vector<Value> values;
    for (const ArgSpec &arg : clause.args) {
        Value value;
        if (!parseArg(arg, clause, &value))
            return false;
        values.push_back(std::move(value));
    }
    m_matched.clauses[clause.tag] = std::move(values);
    return true;
}

bool CommandParser::parseArg(const ArgSpec &arg, const ClauseSpec &clause, Value *value)
{
    if (arg.kind == ArgKind::Path)
        return parseRawPath(clause, value);
    const std::optional<Token> token = m_scanner.next(&m_error);
    if (!token)
        return m_error.isEmpty() ? fail(errortext::missingValue(keywordText(clause))) : false;
    if (arg.kind == ArgKind::Name) {
        value->text = token->text;
        return true;
    }
    if (arg.kind != ArgKind::Word && !token->quoted) {
        if (const std::optional<qint32> number = parseInt32(token->text)) {
            value->isNumber = true;
            value->number = *number;
            return true;
        }
    }
    if (arg.kind != ArgKind::Number && !token->quoted) {
        for (const char *word : arg.words) {
            if (isWord(token->text, QLatin1String(word))) {
                value->text = QString::fromLatin1(word);
                return true;
            }
        }
    }
    const bool looksNumeric = !token->text.isEmpty()
                              && (token->text[0].isDigit() || token->text[0] == u'-');
    if (arg.kind == ArgKind::Number || (arg.kind == ArgKind::NumberOrWord && looksNumeric))
        return fail(errortext::badNumber(token->text));
    return fail(errortext::unknownWord(token->text));
}

// A path after its keyword: quoted, or everything up to the end of the text except a final
// "wait" flag. To name a file that really ends in " wait", quote it.
bool CommandParser::parseRawPath(const ClauseSpec &clause, Value *value)
{
    if (m_scanner.atEnd())
        return fail(errortext::missingValue(keywordText(clause)));
    if (m_scanner.rest().startsWith(u'"')) {
        const std::optional<Token> token = m_scanner.quoted(&m_error);
        if (!token)
            return false;
        value->text = token->text;
        return true;
    }
    QStringView path = trimmedRight(m_scanner.rest());
    m_scanner.advance(m_scanner.rest().size());
    const qsizetype lastBlank = std::max(path.lastIndexOf(u' '), path.lastIndexOf(u'\t'));
    if (lastBlank > 0 && isWord(path.mid(lastBlank + 1), kWait)) {
        m_wait = true;
        path = trimmedRight(path.left(lastBlank));
    }
    value->text = path.toString();
    return true;
}

} // namespace

ParseResult parseCommand(QStringView text, const QStringList &openDevices)
{
    if (text.size() > kMaxCommandLength)
        return {std::nullopt, errortext::tooLong(kMaxCommandLength)};
    return CommandParser(text, openDevices).run();
}

} // namespace mci
