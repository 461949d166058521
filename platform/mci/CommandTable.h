#pragma once

#include "platform/mci/Command.h"

#include <QString>
#include <QStringView>
#include <map>
#include <vector>

namespace mci {

// The verbs and their argument grammar, as data. A command is a verb, a subject (a path for
// open, else a device name), then clauses in any order: each clause is one or more keywords
// followed by its arguments. "wait" is a clause of every verb and is not listed in the rows.

// What follows the verb.
enum class Subject { Path, Device, DeviceOrAll };

enum class ArgKind {
    Number,       // a signed 32-bit decimal
    Word,         // one of the words listed
    NumberOrWord, // a number, or one of the words listed
    Name,         // any token, quoted or not, as written
    Path,         // quoted, or the raw rest of the text (blanks and all) up to a final "wait"
};

struct ArgSpec {
    ArgKind kind = ArgKind::Number;
    std::vector<const char *> words = {};
};

struct ClauseSpec {
    int tag = 0;                       // what the clause means to the verb's builder
    std::vector<const char *> keywords; // lower case, matched without regard to case
    std::vector<ArgSpec> args = {};
    int group = 0; // 0: optional; n > 0: exactly one clause of group n must be given
};

struct Value {
    bool isNumber = false;
    qint32 number = 0;
    QString text; // a word in lower case; a name or path as written
};

// What the parser matched, for the verb's builder.
struct Matched {
    QString subject;
    std::map<int, std::vector<Value>> clauses; // by tag

    bool has(int tag) const { return clauses.count(tag) != 0; }
    const std::vector<Value> &values(int tag) const { return clauses.at(tag); }
};

using Builder = Action (*)(const Matched &);

struct VerbSpec {
    const char *name;
    Subject subject;
    std::vector<ClauseSpec> clauses;
    Builder build;
};

const std::vector<VerbSpec> &commandTable();
// Case-insensitive; nullptr for an unknown verb.
const VerbSpec *findVerb(QStringView name);

} // namespace mci
