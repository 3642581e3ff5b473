// Reader of the file list setup.log: logical lines, and the name and target
// text of an item line.
#ifndef IMPORT_FILE_LIST_H
#define IMPORT_FILE_LIST_H

#include <cstdio>

// The current logical line: at most 255 characters, zero to its last byte.
extern char g_lineBuffer[256];
// The item name or, replacing it, the target text of the current line.
extern char g_itemField[256];
// True when the current logical line cannot be held whole as text: longer
// than 255 characters (g_lineBuffer then holds only its first 255), or
// holding a zero byte (g_lineBuffer then holds its text up to that byte).
extern bool g_lineCut;

// Reads the next logical line of `stream` into g_lineBuffer: leading blanks
// and tabs skipped, "//" comments dropped, tabs stored as blanks, trailing
// blanks removed. A line longer than 255 characters is consumed whole; its
// first 255 characters are delivered and g_lineCut is set, as it is for a
// line holding a zero byte.
void ReadLogLine(FILE *stream);

// Puts the characters of g_lineBuffer before the first blank or equals sign
// into g_itemField (the whole line when it has neither).
void ParseItemName();

// Puts the text after the first double quote of g_lineBuffer, less the
// line's last character, into g_itemField; empty when the line is empty or
// holds no double quote.
void ParseItemTarget();

#endif
