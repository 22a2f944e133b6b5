// The redo record of a board: the steps of one change, written whole to
// "guestbook.redo" and on the disk before the change touches the index or
// a body file. Each step gives its end state (bytes at an offset, a
// length, a file's whole contents, a name renamed or removed), so running
// the steps again after a crash, once or many times, ends in the same
// board. The steps carry the bytes they write, so that nothing but the
// record itself has to reach the disk before the commit. The store alone
// reads and writes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr char kRedoName[] = "guestbook.redo";
constexpr char kRedoScratchName[] = "guestbook.redo.new";

struct RedoStep {
    enum Kind : char { Write = 'W', Truncate = 'T', Rename = 'R', Remove = 'U', Create = 'C' };
    explicit RedoStep(Kind k) : kind(k) {}
    Kind kind;
    long long offset = 0;  // Write: where in the index; Truncate: the new length
    std::string bytes;     // Write, Create: the bytes; Rename, Remove: the file name
    std::string target;    // Rename: the new name; Create: the file's name
};

class RedoRecord {
public:
    // Index steps.
    void write(long long offset, const char* data, std::size_t size);
    void truncate(long long length);
    // Body and index file steps, by plain names in the board directory. A
    // rename whose source is gone has already run.
    void rename(const std::string& from, const std::string& to);
    void remove(const std::string& name);
    // The file `name` (a body or the index) holds exactly `bytes`; it is
    // written under its scratch name and renamed over `name`.
    void create(const std::string& name, const std::string& bytes);

    const std::vector<RedoStep>& steps() const { return steps_; }

    // The bytes on disk: a magic line, the steps, a length and a checksum.
    std::string encode() const;
    // False for anything that encode() did not produce whole: a record cut
    // short by a power cut is no record.
    bool decode(const std::string& bytes);

    // Runs every step in `boardDir` and waits until what the steps wrote
    // is on the disk (their names follow in order with the record's own
    // removal); 1 or -1.
    int apply(const char* boardDir) const;

private:
    std::vector<RedoStep> steps_;
};

// True for a name that stays inside the board directory: not empty, no
// "/" or NUL, not "." or "..".
bool isPlainName(const std::string& name);

// A plain name that is none of the store's own files: what a record's
// FileName may name.
bool isPlainBodyName(const std::string& name);
