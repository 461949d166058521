#pragma once

#include <QString>

// The n-th field of text, fields counted from 1 and cut at each occurrence of delimiter.
// n of 1 or less gives the first field; a field past the last gives the empty text; the last
// field runs to the end of text. The scan resumes one character after the start of each
// delimiter found, so a longer delimiter leaves its tail at the start of the next field.
QString GetToken(const QString &text, int n, const QString &delimiter);
