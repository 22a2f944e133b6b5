// Numbers as the board's files and URLs write them: decimal text.
#pragma once

// Decimal value of a text: leading white space, an optional sign, digits up
// to the first other byte; 0 without digits. Saturates instead of overflowing.
int decimalValue(const char* text);
