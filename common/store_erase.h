// Taking one message out of a board's index without ever changing the
// index in place: the new index is written whole to "tmp.dat" and renamed
// over the old one, so a failure at any step leaves one complete index.
#pragma once

#include <cstdio>

enum class EraseResult { Done, ScratchFailed, RenameFailed };

// Writes the index read from `index` (header `header`, `count` records)
// without record n into `scratchPath`: the header with count - 1, the
// records before n unchanged, the later ones moved up with TextNum lowered
// by one. Then renames it to `indexPath`. `erased` receives record n.
// On failure no scratch file is left and the index is as it was.
EraseResult RemoveRecord(std::FILE* index, const char* header, int count, int n, const char* indexPath,
                         const char* scratchPath, char* erased);
