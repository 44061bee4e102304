// The program's message texts, looked up by number each time one is shown.
#pragma once

#include <QString>

#include <span>

struct StringEntry {
    unsigned nId;
    const char* pszText; // Latin-1
};

// Every text of the program with its number, as LoadString finds them.
std::span<const StringEntry> StringTable();

// Fills strText with the text numbered nId; false when the table has none.
bool LoadString(unsigned nId, QString& strText);

// The text numbered nId, as the boxes and the command line show it;
// "LoadString Error" when the table has none.
QString Text(unsigned nId);

// The text that tells a reply's non-zero status byte.
unsigned StatusTextId(int nStatus);
