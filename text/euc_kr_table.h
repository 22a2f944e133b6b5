// The characters that a page in EUC-KR can carry as bytes.
#pragma once

// True when a browser's EUC-KR encoder (code page 949) has bytes for the
// character; a form posts any other as a numeric reference "&#N;".
bool eucKrEncodes(unsigned long codePoint);
