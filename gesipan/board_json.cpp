#include "board_json.h"

#include <cstring>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/board_store.h"
#include "json_text.h"
#include "store/redo_record.h"
#include "store/index_format.h"

namespace {

struct NamedField {
    const char* name;
    StoreField field;
};

const NamedField kHeaderFields[] = {
    {"FileSerial", field::FileSerial},
    {"TextCount", field::TextCount},
    {"BoardNum", field::BoardNum},
    {"HeaderSpare", field::HeaderSpare},
};

const NamedField kRecordFields[] = {
    {"TextNum", field::TextNum},     {"Name", field::Name},         {"Date", field::Date},
    {"Time", field::Time},           {"Email", field::Email},       {"ReadCount", field::ReadCount},
    {"Subject", field::Subject},     {"LineCount", field::LineCount}, {"Homepage", field::Homepage},
    {"RemoteHost", field::RemoteHost}, {"FileName", field::FileName},
};

struct JsonValue {
    enum Kind { Text, Number, Null } kind = Null;
    std::string text;  // board bytes of a text; the digits of a number
};

void skipSpace(const std::string& line, std::size_t* at) {
    while (*at < line.size() && (line[*at] == ' ' || line[*at] == '\t' || line[*at] == '\r')) ++*at;
}

// One flat JSON object of texts, integers and nulls.
bool parseObject(const std::string& line, std::map<std::string, JsonValue>* object) {
    std::size_t at = 0;
    skipSpace(line, &at);
    if (at >= line.size() || line[at++] != '{') return false;
    skipSpace(line, &at);
    bool first = true;
    while (at < line.size() && line[at] != '}') {
        if (!first) {
            if (line[at++] != ',') return false;
            skipSpace(line, &at);
        }
        first = false;
        std::string key;
        if (!boardBytes(line, &at, &key)) return false;
        skipSpace(line, &at);
        if (at >= line.size() || line[at++] != ':') return false;
        skipSpace(line, &at);
        JsonValue value;
        if (at < line.size() && line[at] == '"') {
            value.kind = JsonValue::Text;
            if (!boardBytes(line, &at, &value.text)) return false;
        } else if (line.compare(at, 4, "null") == 0) {
            at += 4;
        } else {
            value.kind = JsonValue::Number;
            std::size_t start = at;
            if (at < line.size() && line[at] == '-') ++at;
            while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
            value.text = line.substr(start, at - start);
            if (value.text.empty() || value.text == "-" || value.text.size() > 11) return false;
        }
        if (!object->emplace(key, value).second) return false;
        skipSpace(line, &at);
    }
    if (at >= line.size()) return false;
    ++at;
    skipSpace(line, &at);
    return at == line.size();
}

// A field's text exactly as stored: up to its width, with its NUL when it fits.
bool putRaw(char* buffer, StoreField f, const std::string& text) {
    if (text.size() > static_cast<std::size_t>(f.width) || text.find('\0') != std::string::npos) return false;
    std::memset(buffer + f.offset, 0, static_cast<std::size_t>(f.width));
    std::memcpy(buffer + f.offset, text.data(), text.size());
    return true;
}

struct ImportedMessage {
    std::string record;
    std::string fileName;
    bool hasBody = false;
    std::string body;
};

bool fillFields(const std::map<std::string, JsonValue>& object, const NamedField* fields, std::size_t count,
                char* buffer, std::string* error) {
    for (std::size_t i = 0; i < count; ++i) {
        auto found = object.find(fields[i].name);
        if (found == object.end() || found->second.kind != JsonValue::Text) {
            *error = std::string("no text ") + fields[i].name;
            return false;
        }
        if (!putRaw(buffer, fields[i].field, found->second.text)) {
            *error = std::string(fields[i].name) + " does not fit its field";
            return false;
        }
    }
    return true;
}

}  // namespace

int exportBoard(int board, const std::string& dir, std::FILE* out, std::FILE* err) {
    BoardStore store(dir.c_str());
    store.lockForReading();
    char header[kHeaderSize] = {};
    StoreResult head = store.ReadHeader(header);
    if (head == StoreResult::NoStore) {
        putNumber(header, field::FileSerial, 0);
        putNumber(header, field::TextCount, 0);
        putNumber(header, field::BoardNum, board);
    } else if (head != StoreResult::Done || !store.hasStoreLength()) {
        std::fprintf(err, "gesipan: board %d: its index cannot be read whole; see gesipan check\n", board);
        return 1;
    }
    std::string line = "{\"board\":" + std::to_string(board);
    for (const NamedField& f : kHeaderFields) line += ",\"" + std::string(f.name) + "\":" + jsonText(fieldText(header, f.field));
    std::fprintf(out, "%s}\n", line.c_str());
    const int count = head == StoreResult::Done ? store.messageCount() : 0;
    int left = 0;
    for (int n = 1; n <= count; ++n) {
        char record[kRecordSize];
        std::string body;
        StoreResult read = store.ReadRecord(n, record);
        bool tooLarge = false;
        StoreResult bodyRead = read == StoreResult::Done
                                   ? store.readBody(fieldText(record, field::FileName), &body, &tooLarge)
                                   : StoreResult::Failed;
        if (tooLarge) {
            // Said, and the rest exported: one such file must not keep the others from a backup.
            std::fprintf(err,
                         "gesipan: board %d: message %d: body file %s is larger than %zu bytes; exported without it\n",
                         board, n, terminalText(fieldText(record, field::FileName)).c_str(), kMaxBodyBytes);
            left = 1;
        } else if (bodyRead == StoreResult::Failed) {
            std::fprintf(err, "gesipan: board %d: message %d cannot be read\n", board, n);
            return 1;
        }
        line = "{";
        for (const NamedField& f : kRecordFields) {
            if (line.size() > 1) line += ",";
            line += "\"" + std::string(f.name) + "\":" + jsonText(fieldText(record, f.field));
        }
        line += ",\"body\":" + (bodyRead == StoreResult::Done ? jsonText(body) : std::string("null")) + "}";
        std::fprintf(out, "%s\n", line.c_str());
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "gesipan: board %d: the export could not be written\n", board);
        return 1;
    }
    return left;
}

int importBoard(int board, const std::string& dir, const std::string& text, std::FILE* err) {
    auto refuse = [err, board](const std::string& why) {
        std::fprintf(err, "gesipan: board %d: %s\n", board, why.c_str());
        return 1;
    };
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.find_first_not_of(" \t\r") != std::string::npos) lines.push_back(line);
    }
    if (lines.empty()) return refuse("the import holds no board line");

    std::string header(kHeaderSize, '\0');
    std::map<std::string, JsonValue> object;
    std::string error;
    if (!parseObject(lines[0], &object) || !object.count("board")) return refuse("line 1 is no board line");
    if (!fillFields(object, kHeaderFields, sizeof kHeaderFields / sizeof kHeaderFields[0], &header[0], &error)) {
        return refuse("line 1: " + error);
    }
    putNumber(&header[0], field::BoardNum, board);
    const std::size_t messages = lines.size() - 1;
    if (messages > static_cast<std::size_t>(kMaxMessages) ||
        fieldText(header.data(), field::TextCount) != std::to_string(messages)) {
        return refuse("TextCount of line 1 is not the " + std::to_string(messages) + " messages that follow");
    }

    std::vector<ImportedMessage> imported;
    std::set<std::string> fileNames;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        object.clear();
        ImportedMessage message;
        message.record.assign(kRecordSize, '\0');
        const std::string where = "line " + std::to_string(i + 1) + ": ";
        if (!parseObject(lines[i], &object)) return refuse(where + "not a JSON object");
        if (!fillFields(object, kRecordFields, sizeof kRecordFields / sizeof kRecordFields[0], &message.record[0],
                        &error)) {
            return refuse(where + error);
        }
        auto body = object.find("body");
        if (body == object.end() || body->second.kind == JsonValue::Number) return refuse(where + "no body");
        message.hasBody = body->second.kind == JsonValue::Text;
        message.body = body->second.text;
        message.fileName = fieldText(message.record.data(), field::FileName);
        if (!isPlainBodyName(message.fileName) || !fileNames.insert(message.fileName).second) {
            return refuse(where + "FileName \"" + terminalText(message.fileName) + "\" is no body file of its own");
        }
        // No page would show it.
        if (message.body.size() > kMaxBodyBytes) {
            return refuse(where + "a body longer than " + std::to_string(kMaxBodyBytes) + " bytes");
        }
        imported.push_back(message);
    }

    BoardStore store(dir.c_str());
    StoreResult locked = store.lockForChange();
    if (locked == StoreResult::NoStore) return refuse("no board directory " + dir);
    if (locked != StoreResult::Done) return refuse("cannot lock the board");
    char current[kHeaderSize];
    StoreResult head = store.ReadHeader(current);
    bool empty = head == StoreResult::NoStore ||
                 (head == StoreResult::Done && store.messageCount() == 0 && store.hasStoreLength());
    if (!empty) return refuse("the board holds messages (or its index is damaged); import needs an empty board");
    // A body file already there is kept only when it is the one to import
    // (left by an import that stopped before its end).
    std::vector<const ImportedMessage*> toCreate;
    for (const ImportedMessage& message : imported) {
        std::string there;
        StoreResult found = store.readBody(message.fileName, &there);
        struct stat info;
        bool exists = ::lstat((dir + message.fileName).c_str(), &info) == 0;
        if (!exists) {
            if (message.hasBody) toCreate.push_back(&message);
        } else if (!message.hasBody || found != StoreResult::Done || there != message.body) {
            return refuse(terminalText(message.fileName) + " is there already; move it away first");
        }
    }
    std::vector<std::string> created;
    auto undo = [&created, &dir]() {
        for (const std::string& name : created) ::unlink((dir + name).c_str());
    };
    for (const ImportedMessage* message : toCreate) {
        if (store.CreateBody(message->fileName, message->body) != StoreResult::Done) {
            undo();
            return refuse("cannot write " + terminalText(message->fileName));
        }
        created.push_back(message->fileName);
    }
    std::string index = header;
    for (const ImportedMessage& message : imported) index += message.record;
    bool nothing = imported.empty() && head == StoreResult::NoStore && fieldText(header.data(), field::FileSerial) == "0";
    if (!nothing && store.ReplaceIndex(index, {}) != StoreResult::Done) {
        undo();
        return refuse("cannot write the index; the board is as it was");
    }
    return 0;
}
