#pragma once

#include <QString>

// The text after its first `count` characters as the user perceives them (grapheme clusters, not
// bytes or code units); empty when the text has no more than `count`.
QString dropFirstCharacters(qsizetype count, const QString &text);
