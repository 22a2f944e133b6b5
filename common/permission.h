// The site password that guards editing and erasing.
#pragma once

// 1 when `posted` is the configured password byte for byte, else -1.
// A site without a password is closed: an empty `configured` never
// matches. The time taken does not depend on where the texts differ.
int passwordMatches(const char* posted, const char* configured);
