// The man page lustbus(1), made from the texts that --help shows: the overview, every
// command's usage, description, options, arguments and notes. The build runs
// "lustbus --man", so that page and help cannot drift apart.
#ifndef LUSTBUS_MANUALPAGE_H
#define LUSTBUS_MANUALPAGE_H

#include "command.h"

class ManualPage
{
public:
    static QString roff(const QList<const Command *> &commands);

    // Help text as roff paragraphs: a paragraph of flowing lines is filled, one with
    // indented lines (lists, examples) keeps its lines as they are.
    static QString paragraphs(const QString &text);
    // Backslashes and hyphens escaped, so that they print as typed.
    static QString escaped(const QString &text);
};

#endif // LUSTBUS_MANUALPAGE_H
