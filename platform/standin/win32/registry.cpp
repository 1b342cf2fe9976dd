#include "registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "../leaks.h"
#include "../uncovered.h"

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_CURRENT_USER";
constexpr char kFileName[] = "registry.reg";
constexpr int kLockWaitSeconds = 3;
// Far above anything the system stores (a settings record is 104 bytes): a larger file is not read,
// and a change that would make the store larger is refused, so that a save never leaves a store
// the next read sets aside.
constexpr size_t kMaxStoreBytes = 8u << 20;

struct Value {
    std::string name;  // "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

uint64_t FoldedHash(std::string_view path);

struct Key {
    explicit Key(std::string keyPath = {}) : path(std::move(keyPath)), folded(FoldedHash(path)) {}
    Key(std::string keyPath, uint64_t foldedPath) : path(std::move(keyPath)), folded(foldedPath) {}
    std::string path;  // below HKEY_CURRENT_USER, as first written; "" is the root
    uint64_t folded;   // FoldedHash(path): most keys a lookup passes are told apart by it alone
    std::vector<Value> values;
};

struct Store {
    bool parsed = true;
    std::vector<Key> keys;
};

// The store kept in this process's memory instead of the file: held as read, with no lock,
// temporary file or sync. Its bytes come in and go out through the file's parser and writer: a
// text put in reads back as it was until the next change, and one that does not parse answers
// every read as a bad file does and is set aside by the next write.
struct MemoryStore {
    bool exists = false;
    Store store;
    bool textIsCurrent = false;  // `text` is what the store holds (always so when it did not parse)
    std::string text;
    std::string unreadable;             // what a read says while the text does not parse
    std::vector<std::string> setAside;  // stores that could not be read, oldest first
};
bool g_inMemory = false;
MemoryStore g_memory;

struct Handle {
    uintptr_t id = 0;
    std::string path;
    REGSAM access = 0;
};

std::mutex g_mutex;
// The open handles, few at a time, then the entries closed ones left, which keep their paths'
// room: opening a key takes one of those, so that it costs no allocation, and the resolved path
// is built in a string kept for its room as well. Ids are never given out twice, so a closed
// handle stays refused.
std::vector<Handle> g_handles;
size_t g_openHandles = 0;  // g_handles[0, g_openHandles) are open
std::string g_resolvedPath;
uintptr_t g_nextHandle = 0x1000;
std::vector<std::string> g_denied;
void (*g_beforeRename)() = nullptr;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The character loops below carry no coverage instrumentation: a fuzzer learns nothing from a
// compare per character, and they ran for every key and value name looked up.

// FNV-1a of a path or name with ASCII letters folded to lower case, as EqualNoCase compares; the
// running hash after a prefix is that prefix's.
constexpr uint64_t kFoldedHashStart = 0xcbf29ce484222325ull;
uint64_t FoldInto(uint64_t h, char c) { return (h ^ static_cast<unsigned char>(LowerAscii(c))) * 0x100000001b3ull; }

STANDIN_UNCOVERED uint64_t FoldedHash(std::string_view path) {
    uint64_t h = kFoldedHashStart;
    for (char c : path) h = FoldInto(h, c);
    return h;
}

// Calls `visit(key, FoldedHash(key))` for each key on a path from the top down, the path itself
// last, hashing the path once.
template <typename Visit>
void VisitKeysOnPath(std::string_view path, const Visit& visit) {
    uint64_t h = kFoldedHashStart;
    for (size_t i = 1; i <= path.size(); ++i) {
        h = FoldInto(h, path[i - 1]);
        if (i == path.size() || path[i] == '\\') visit(path.substr(0, i), h);
    }
}

STANDIN_UNCOVERED bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IsUnder(const std::string& path, const std::string& top) {
    if (top.empty()) return true;
    if (path.size() < top.size()) return false;
    if (!EqualNoCase(std::string_view(path).substr(0, top.size()), top)) return false;
    return path.size() == top.size() || path[top.size()] == '\\';
}

STANDIN_UNCOVERED bool HasControlCharacter(std::string_view s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// ---- Where the store lives ------------------------------------------------------------------

std::string ConfigDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/brevlo";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/tmp") + "/.config/brevlo";
}

std::string StorePath() { return ConfigDirectory() + "/" + kFileName; }

bool MakeDirectories(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            std::string part = dir.substr(0, i);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

LONG ErrorFromErrno(int e) {
    return (e == EACCES || e == EPERM || e == EROFS) ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
}

// ---- Key paths ------------------------------------------------------------------------------

// Joins a base key and a sub-key the way the API accepts them: no leading backslash, trailing
// backslashes ignored, no empty path elements.
STANDIN_UNCOVERED LONG JoinPath(const std::string& base, std::string_view sub, std::string& out) {
    if (!sub.empty() && sub[0] == '\\') return ERROR_BAD_PATHNAME;
    while (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
    for (size_t i = 0; i < sub.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(sub[i]);
        if (c == '\\' && i + 1 < sub.size() && sub[i + 1] == '\\') return ERROR_BAD_PATHNAME;
        if (c < 0x20 || c == 0x7F) return ERROR_INVALID_PARAMETER;
    }
    out = base;
    if (!base.empty() && !sub.empty()) out += '\\';
    out.append(sub.data(), sub.size());
    return ERROR_SUCCESS;
}

LONG JoinPath(const std::string& base, const char* sub, std::string& out) {
    return JoinPath(base, sub ? std::string_view(sub) : std::string_view(), out);
}

// The lookups of keys and values carry no coverage instrumentation either: they compare hashes
// and names the uninstrumented helpers above already compare, and their callers branch on what
// they found.
STANDIN_UNCOVERED const Key* LookUpKey(const Store& store, std::string_view path, uint64_t folded) {
    // A key is nearly always asked for as it was written, which one compare of the bytes finds.
    for (const Key& k : store.keys) {
        if (k.folded == folded && (k.path == path || EqualNoCase(k.path, path))) return &k;
    }
    return nullptr;
}

const Key* LookUpKey(const Store& store, const std::string& path) { return LookUpKey(store, path, FoldedHash(path)); }

// As LookUpKey, but the root is made when missing: for changes only.
Key* FindKey(Store& store, const std::string& path) {
    if (const Key* k = LookUpKey(store, path)) return const_cast<Key*>(k);
    if (!path.empty()) return nullptr;
    store.keys.insert(store.keys.begin(), Key());
    return &store.keys.front();
}

bool KeyExists(const Store& store, const std::string& path) { return path.empty() || LookUpKey(store, path); }

// Creates every missing key on the path; true when something was created. A key is never made
// without the keys above it, so a key that is there needs nothing.
bool CreateKeyPath(Store& store, const std::string& path) {
    if (LookUpKey(store, path)) return false;
    bool created = false;
    VisitKeysOnPath(path, [&](std::string_view key, uint64_t folded) {
        if (!LookUpKey(store, key, folded)) {
            store.keys.push_back(Key(std::string(key), folded));
            created = true;
        }
    });
    return created;
}

STANDIN_UNCOVERED Value* FindValue(Key& key, std::string_view name) {
    for (Value& v : key.values) {
        if (v.name.size() == name.size() && EqualNoCase(v.name, name)) return &v;
    }
    return nullptr;
}

const Value* FindValue(const Key& key, std::string_view name) { return FindValue(const_cast<Key&>(key), name); }

// ---- The text form --------------------------------------------------------------------------

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A string value is written as text when that reads back to the same bytes.
bool IsPlainString(const Value& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
    std::string text(v.data.begin(), v.data.end() - 1);
    return text.find('\0') == std::string::npos && !HasControlCharacter(text);
}

void AppendHex(std::string& out, const std::vector<BYTE>& data, size_t lead) {
    char buf[4];
    size_t column = lead;
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

std::string FormatStore(const Store& store) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const Key& key : store.keys) {
        out += "[" + std::string(kRootName) + (key.path.empty() ? "" : "\\" + key.path) + "]\n";
        for (const Value& v : key.values) {
            std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
            if (v.type == REG_DWORD && v.data.size() == 4) {
                char buf[16];
                DWORD d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (DWORD(v.data[3]) << 24);
                std::snprintf(buf, sizeof buf, "dword:%08x", d);
                line += buf;
            } else if (IsPlainString(v)) {
                line += Quote(std::string(v.data.begin(), v.data.end() - 1));
            } else {
                char buf[24];
                if (v.type == REG_BINARY) {
                    std::snprintf(buf, sizeof buf, "hex:");
                } else {
                    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
                }
                line += buf;
                AppendHex(line, v.data, line.size());
            }
            out += line + "\n";
        }
        out += "\n";
    }
    return out;
}

// The parser reads views into the file's text, so that a line costs no copies.
std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (++pos >= s.size() || (s[pos] != '\\' && s[pos] != '"')) return false;
            c = s[pos];
        }
        out += c;
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHexBytes(std::string_view s, std::vector<BYTE>& out) {
    out.clear();
    std::string_view t = Trim(s);
    if (t.empty()) return true;
    size_t pos = 0;
    while (true) {
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        if (pos + 2 > t.size()) return false;
        int hi = HexDigit(t[pos]), lo = HexDigit(t[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<BYTE>(hi * 16 + lo));
        pos += 2;
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        if (pos == t.size()) return true;
        if (t[pos] != ',') return false;
        ++pos;
    }
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool ParseData(std::string_view text, Value& v) {
    std::string_view s = Trim(text);
    if (!s.empty() && s[0] == '"') {
        size_t pos = 0;
        std::string str;
        if (!ParseQuoted(s, pos, str) || !Trim(s.substr(pos)).empty()) return false;
        v.type = REG_SZ;
        v.data.assign(str.begin(), str.end());
        v.data.push_back(0);
        return true;
    }
    if (StartsWith(s, "dword:")) {
        std::string_view digits = s.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        DWORD d = 0;
        for (char c : digits) {
            int h = HexDigit(c);
            if (h < 0) return false;
            d = d * 16 + h;
        }
        v.type = REG_DWORD;
        v.data = {BYTE(d), BYTE(d >> 8), BYTE(d >> 16), BYTE(d >> 24)};
        return true;
    }
    if (StartsWith(s, "hex:")) {
        v.type = REG_BINARY;
        return ParseHexBytes(s.substr(4), v.data);
    }
    if (StartsWith(s, "hex(")) {
        size_t close = s.find("):", 4);
        if (close == std::string_view::npos || close == 4 || close > 12) return false;
        DWORD type = 0;
        for (size_t i = 4; i < close; ++i) {
            int h = HexDigit(s[i]);
            if (h < 0) return false;
            type = type * 16 + h;
        }
        v.type = type;
        return ParseHexBytes(s.substr(close + 2), v.data);
    }
    return false;
}

// Positions in a list by the folded hash of their names; a lookup costs no allocation, and names
// whose hashes collide are told apart by `same`.
using FoldedIndex = std::unordered_multimap<uint64_t, size_t>;
constexpr size_t kNotIndexed = SIZE_MAX;

template <typename Same>
size_t FindFolded(const FoldedIndex& index, uint64_t hash, const Same& same) {
    const auto range = index.equal_range(hash);
    for (auto it = range.first; it != range.second; ++it) {
        if (same(it->second)) return it->second;
    }
    return kNotIndexed;
}

// One value per name (names compare without case): the last one written, in the place of the first.
void KeepLastOfEachName(std::vector<Value>& values) {
    if (values.size() < 2) return;
    FoldedIndex placeOf;
    std::vector<Value> kept;
    kept.reserve(values.size());
    for (Value& v : values) {
        const uint64_t h = FoldedHash(v.name);
        const size_t place = FindFolded(placeOf, h, [&](size_t at) { return EqualNoCase(kept[at].name, v.name); });
        if (place == kNotIndexed) {
            placeOf.emplace(h, kept.size());
            kept.push_back(std::move(v));
        } else {
            kept[place] = std::move(v);
        }
    }
    values = std::move(kept);
}

// One logical line of the file (continuations joined) into the store; false when it cannot be read.
bool ParseLine(std::string_view line, Store& store, FoldedIndex& keyIndex, Key*& current,
               bool& sawHeader) {
    line = Trim(line);
    if (!sawHeader && StartsWith(line, "\xEF\xBB\xBF")) line.remove_prefix(3);
    if (line.empty() || line[0] == ';') return true;
    if (!sawHeader) {
        sawHeader = true;
        return line == kHeader || line == "REGEDIT4";
    }
    if (line[0] == '[') {
        if (line.back() != ']') return false;
        std::string_view full = line.substr(1, line.size() - 2);
        const std::string_view root = kRootName;
        if (!EqualNoCase(full.substr(0, root.size()), root)) return false;
        std::string_view rest = full.substr(root.size());
        std::string path;
        if (!rest.empty()) {
            if (rest[0] != '\\' || JoinPath("", rest.substr(1), path) != ERROR_SUCCESS) return false;
        }
        if (path.empty()) {
            // The root goes first, once: every key after it moves up by one.
            if (store.keys.empty() || !store.keys.front().path.empty()) {
                store.keys.insert(store.keys.begin(), Key());
                for (auto& k : keyIndex) ++k.second;
            }
            current = &store.keys.front();
            return true;
        }
        // Keys are found through an index by folded path, so that many keys stay fast too. The
        // path's own key comes last, after any key made above it has moved the list.
        VisitKeysOnPath(path, [&](std::string_view key, uint64_t folded) {
            size_t at = FindFolded(keyIndex, folded, [&](size_t k) { return EqualNoCase(store.keys[k].path, key); });
            if (at == kNotIndexed) {
                at = store.keys.size();
                keyIndex.emplace(folded, at);
                store.keys.push_back(Key(std::string(key), folded));
            }
            current = &store.keys[at];
        });
        return true;
    }
    if (!current) return false;
    Value v;
    size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else if (!ParseQuoted(line, pos, v.name) || HasControlCharacter(v.name)) {
        return false;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return false;
    if (!ParseData(line.substr(pos + 1), v)) return false;
    current->values.push_back(std::move(v));
    return true;
}

bool ParseStore(const std::string& text, Store& store) {
    store = Store{};
    FoldedIndex keyIndex;
    Key* current = nullptr;
    bool sawHeader = false;
    std::string pending;
    const std::string_view all = text;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        // A trailing backslash continues a hex list on the next line.
        std::string_view t = Trim(line);
        if (!t.empty() && t.back() == '\\' && t[0] != '[' && t[0] != ';') {
            pending.append(t.data(), t.size() - 1);
            continue;
        }
        if (pending.empty()) {
            if (!ParseLine(line, store, keyIndex, current, sawHeader)) return false;
        } else {
            pending.append(t.data(), t.size());
            if (!ParseLine(pending, store, keyIndex, current, sawHeader)) return false;
            pending.clear();
        }
    }
    if (!pending.empty() || !sawHeader) return false;
    for (Key& key : store.keys) KeepLastOfEachName(key.values);
    return true;
}

// ---- Reading and replacing the file ---------------------------------------------------------

// False, with errno set, when the file cannot be read. Only a regular file of at most
// kMaxStoreBytes is: a pipe or a device behind the path would be read forever, a huge file would
// take the memory, and either reads as a store that cannot be read. The open does not wait for a
// pipe's writer.
bool ReadWholeFile(const std::string& path, std::string& text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    int e = 0;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        e = errno;
    } else if (S_ISDIR(st.st_mode)) {
        e = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        e = EINVAL;
    } else if (st.st_size > static_cast<off_t>(kMaxStoreBytes)) {
        e = EFBIG;
    }
    char buf[8192];
    while (e == 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno != EINTR) e = errno;
            continue;
        }
        // A file that grows while it is read is held to the same bound.
        if (text.size() + static_cast<size_t>(n) > kMaxStoreBytes) {
            e = EFBIG;
        } else {
            text.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    errno = e;
    return e == 0;
}

// The store's bytes; false when they cannot be read. A store not yet written reads as none.
bool ReadStoreBytes(std::string& text, bool& exists) {
    text.clear();
    exists = false;
    if (g_inMemory) {
        exists = g_memory.exists;
        if (exists) text = g_memory.textIsCurrent ? g_memory.text : FormatStore(g_memory.store);
        return true;
    }
    if (!ReadWholeFile(StorePath(), text)) return errno == ENOENT;
    exists = true;
    return true;
}

// Said on every read, not only when the next write sets the store aside.
std::string UnreadableStoreNote(const std::string& where, const std::string& text) {
    const bool utf16 = text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                                            (text[0] == '\xFE' && text[1] == '\xFF'));
    return "the settings store " + where + " cannot be read: " +
           (utf16 ? "it is UTF-16 text, as regedit exports it; the store is UTF-8 text"
                  : "it is not in the format of a .reg export") +
           "; the defaults apply";
}

Store LoadStoreFile() {
    Store store;
    std::string text;
    bool exists = false;
    if (!ReadStoreBytes(text, exists)) {
        store.parsed = false;
    } else if (exists && !ParseStore(text, store)) {
        store = Store{};
        store.parsed = false;
        standin::NoteFailure(UnreadableStoreNote(StorePath(), text));
    }
    return store;
}

// The store as it is now: the one in memory, or the file read into `scratch`.
const Store& CurrentStore(Store& scratch) {
    if (g_inMemory) {
        if (g_memory.exists && !g_memory.store.parsed) standin::NoteFailure(g_memory.unreadable);
        return g_memory.store;
    }
    scratch = LoadStoreFile();
    return scratch;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Keeps an unreadable file for the person who may want to repair it.
void SetAsideBadFile(const std::string& path) {
    char suffix[64];
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::snprintf(suffix, sizeof suffix, ".bad-%ld-%d%s", static_cast<long>(std::time(nullptr)),
                      static_cast<int>(getpid()), attempt ? ("-" + std::to_string(attempt)).c_str() : "");
        std::string aside = path + suffix;
        if (access(aside.c_str(), F_OK) != 0) {
            if (rename(path.c_str(), aside.c_str()) == 0) {
                standin::NoteFailure("the settings store " + path + " could not be read; it was set aside as " +
                                     aside + " and a new one begun");
            }
            return;
        }
    }
}

// Where a waiter for the store's lock stands. Each lock is an flock on a file of its own beside the
// store; waiting blocks on the lock itself, so a waiter is woken the moment it is let go.
struct LockWait {
    std::mutex mutex;
    std::condition_variable woken;
    pid_t process = getpid();
    int lock = -1;        // the descriptor being locked, fixed before the helper starts
    bool done = false;    // the helper is through: the lock held (error 0) or not, or let go
    bool abandoned = false;
    int error = 0;
};

// A helper still blocked for a caller that gave up. The next caller that has to wait takes it over
// instead of starting another, so that a lock stuck for long leaves one such thread, not one for
// every failed write. Guarded by g_mutex, which every caller of TakeStoreLock holds.
std::shared_ptr<LockWait> g_strandedWait;

// The stranded helper, made the caller's again, or null when there is none still waiting (a
// forked child has none: the helper stayed in its parent).
std::shared_ptr<LockWait> TakeOverStrandedWait() {
    std::shared_ptr<LockWait> wait = std::move(g_strandedWait);
    if (!wait || wait->process != getpid()) return nullptr;
    std::lock_guard<std::mutex> guard(wait->mutex);
    if (wait->done) return nullptr;
    wait->abandoned = false;
    return wait;
}

// Takes the store's lock in `lock` through the doorway `queue`: whoever waits holds the doorway
// while it waits for the lock, so a writer that has just let go of the lock has to wait at the
// doorway until the waiter is through. Two processes saving without pause thus take turns instead
// of the quicker one taking the lock again and again. The doorway is let go as soon as the lock is
// held. Runs on a helper thread when it has to block; `wait` says whether the caller still wants
// the lock, and an abandoned acquisition lets go of whatever it got by closing the files.
void TakeLockThroughDoorway(int queue, bool holdsQueue, const std::shared_ptr<LockWait>& wait) {
    const int lock = wait->lock;
    int error = 0;
    while (!holdsQueue && flock(queue, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    while (error == 0 && flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) error = errno;
    }
    flock(queue, LOCK_UN);
    close(queue);
    std::lock_guard<std::mutex> guard(wait->mutex);
    wait->done = true;
    if (wait->abandoned) {
        close(lock);
        return;
    }
    wait->error = error;
    wait->woken.notify_one();
}

// Returns 0 once `lock` is held, or the reason it is not: an errno, or ETIMEDOUT after `seconds`.
// The descriptor held may be another than the one given, which is then closed; on any result but
// 0 neither is the caller's.
int TakeStoreLock(const std::string& dir, int& lock, int seconds) {
    std::shared_ptr<LockWait> wait = TakeOverStrandedWait();
    if (wait) {
        // It holds the doorway or waits for it, so this caller could get neither sooner.
        close(lock);
        lock = wait->lock;
    } else {
        int queue = open((dir + "/registry.queue").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (queue < 0) {
            int e = errno;
            close(lock);
            return e;
        }
        // Uncontended: both at once, without a thread.
        bool holdsQueue = flock(queue, LOCK_EX | LOCK_NB) == 0;
        if (holdsQueue && flock(lock, LOCK_EX | LOCK_NB) == 0) {
            flock(queue, LOCK_UN);
            close(queue);
            return 0;
        }
        wait = std::make_shared<LockWait>();
        wait->lock = lock;
        try {
            std::thread(TakeLockThroughDoorway, queue, holdsQueue, wait).detach();
        } catch (const std::system_error& e) {
            close(queue);
            close(lock);
            return e.code().value() ? e.code().value() : EAGAIN;
        }
    }
    std::unique_lock<std::mutex> guard(wait->mutex);
    if (!wait->woken.wait_for(guard, std::chrono::seconds(seconds), [&] { return wait->done; })) {
        // The helper lets go of the lock itself should it get it before the next caller takes it over.
        wait->abandoned = true;
        g_strandedWait = wait;
        return ETIMEDOUT;
    }
    if (wait->error != 0) close(lock);
    return wait->error;
}

// Makes a rename into `dir` survive a power cut.
bool SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    int e = errno;
    close(fd);
    errno = e;
    return ok;
}

// The change is made in place; only a store that could not be read is replaced by a new one.
template <typename Change>
LONG ChangeMemoryStore(const Change& change) {
    MemoryStore& m = g_memory;
    const bool setAside = !m.store.parsed;
    Store fresh;
    bool dirty = false;
    LONG rc = change(setAside ? fresh : m.store, dirty);
    if (rc != ERROR_SUCCESS || !dirty) return rc;
    if (setAside) {
        m.setAside.push_back(m.text);
        m.store = std::move(fresh);
        standin::NoteFailure("the settings store in memory could not be read; it was set aside and a new one begun");
    }
    m.textIsCurrent = false;
    m.text.clear();
    m.exists = true;
    if (g_beforeRename) g_beforeRename();
    return ERROR_SUCCESS;
}

// Every failed write is also told in words, for the host to show.
LONG WriteFailed(const std::string& path, int e) {
    standin::NoteFailure("the settings store " + path + " was not written: " + std::strerror(e),
                         standin::FailureKind::WriteLost);
    return ErrorFromErrno(e);
}

// Writes `text` beside the store and renames it into place, setting an unreadable store aside first.
LONG ReplaceStoreFile(const std::string& dir, const std::string& path, const std::string& text, bool setAside) {
    if (setAside) SetAsideBadFile(path);
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return WriteFailed(path, errno);
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    int e = errno;
    close(fd);
    if (!ok) {
        unlink(tmp.c_str());
        return WriteFailed(path, e);
    }
    if (g_beforeRename) g_beforeRename();
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        e = errno;
        unlink(tmp.c_str());
        return WriteFailed(path, e);
    }
    return SyncDirectory(dir) ? ERROR_SUCCESS : WriteFailed(path, errno);
}

// Applies `change` to the current content of the store and writes the result back atomically: in
// the file, under the lock, through a temporary file renamed into place. `change` returns an error
// code and sets `dirty` when the store must be written. A template, so that a change costs no
// allocation of its own.
template <typename Change>
LONG MutateStore(const Change& change) {
    if (g_inMemory) return ChangeMemoryStore(change);
    std::string dir = ConfigDirectory();
    std::string path = dir + "/" + kFileName;
    if (!MakeDirectories(dir)) return WriteFailed(path, errno);
    std::string lockPath = dir + "/registry.lock";
    int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return WriteFailed(path, errno);
    // Another process holds the lock while it writes, which takes well under a second; one that
    // holds it for longer is stuck, and this write fails rather than hang.
    if (int e = TakeStoreLock(dir, lock, kLockWaitSeconds)) {
        if (e != ETIMEDOUT) return WriteFailed(path, e);
        standin::NoteFailure("the settings store " + path + " was not written: another process has held its lock for " +
                             std::to_string(kLockWaitSeconds) + " s",
                             standin::FailureKind::WriteLost);
        return ERROR_WRITE_FAULT;
    }

    Store store = LoadStoreFile();
    bool setAside = !store.parsed;
    if (setAside) store = Store{};
    bool dirty = false;
    LONG rc = change(store, dirty);
    if (rc == ERROR_SUCCESS && dirty) {
        const std::string text = FormatStore(store);
        rc = text.size() > kMaxStoreBytes ? WriteFailed(path, EFBIG) : ReplaceStoreFile(dir, path, text, setAside);
    }
    flock(lock, LOCK_UN);
    close(lock);
    return rc;
}

// ---- Handles --------------------------------------------------------------------------------

// The path and access of an open key, or null for a handle that is not one; valid while g_mutex
// is held and the handle open.
const Handle* FindHandle(HKEY key) {
    static const Handle root{0, "", KEY_ALL_ACCESS};
    if (key == HKEY_CURRENT_USER) return &root;
    const uintptr_t id = reinterpret_cast<uintptr_t>(key);
    for (size_t i = 0; i < g_openHandles; ++i) {
        if (g_handles[i].id == id) return &g_handles[i];
    }
    return nullptr;
}

HKEY NewHandle(const std::string& path, REGSAM access) {
    const uintptr_t id = g_nextHandle;
    g_nextHandle += 4;
    if (g_openHandles == g_handles.size()) g_handles.emplace_back();
    Handle& h = g_handles[g_openHandles++];
    h.id = id;
    h.path = path;
    h.access = access;
    return reinterpret_cast<HKEY>(id);
}

bool WritesDenied(const std::string& path) {
    for (const std::string& top : g_denied) {
        if (IsUnder(path, top)) return true;
    }
    return false;
}

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

void RemoveStoreFiles() {
    std::string dir = ConfigDirectory();
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    std::string prefix = kFileName;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0) unlink((dir + "/" + name).c_str());
    }
    closedir(d);
}

struct RegistryProbe {
    RegistryProbe() {
        standin::RegisterLeakProbe("registry", [] {
            std::lock_guard<std::mutex> lock(g_mutex);
            size_t n = g_openHandles;
            return n ? std::to_string(n) + " registry key(s) not closed" : std::string();
        });
        standin::RegisterReset("registry", [] {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_openHandles = 0;
            g_denied.clear();
            g_beforeRename = nullptr;
            g_memory = MemoryStore{};
            if (!g_inMemory) RemoveStoreFiles();  // a store in memory writes no file
        });
    }
} g_registryProbe;

// Read without the lock: every write replaces the store whole, so a reader sees one save or the
// next, and a key once there stays. Only a key that is missing needs the lock, to be created.
bool StoreHasKey(const std::string& path) {
    Store scratch;
    const Store& store = CurrentStore(scratch);
    return store.parsed && KeyExists(store, path);
}

// The store path of `subKey` below an open key or HKEY_CURRENT_USER.
LONG ResolveSubKey(HKEY key, LPCSTR subKey, std::string& path) {
    const Handle* base = FindHandle(key);
    if (!base) return ERROR_INVALID_HANDLE;
    return JoinPath(base->path, subKey, path);
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string& path = g_resolvedPath;
    LONG rc = ResolveSubKey(key, subKey, path);
    if (rc != ERROR_SUCCESS) return rc;
    Store scratch;
    const Store& store = CurrentStore(scratch);
    if (!store.parsed) return ERROR_BADDB;
    if (!KeyExists(store, path)) return ERROR_FILE_NOT_FOUND;
    if ((access & kWriteAccess) && WritesDenied(path)) return ERROR_ACCESS_DENIED;
    *result = NewHandle(path, access);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result || !subKey) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string& path = g_resolvedPath;
    LONG rc = ResolveSubKey(key, subKey, path);
    if (rc != ERROR_SUCCESS) return rc;

    bool created = false;
    if (WritesDenied(path)) {
        // Opening an existing key for reading only is still allowed.
        Store scratch;
        const Store& store = CurrentStore(scratch);
        if (!store.parsed) return ERROR_BADDB;
        if (!KeyExists(store, path) || (access & kWriteAccess)) return ERROR_ACCESS_DENIED;
    } else if (!StoreHasKey(path)) {
        rc = MutateStore([&](Store& store, bool& dirty) {
            created = dirty = CreateKeyPath(store, path);
            return ERROR_SUCCESS;
        });
        if (rc != ERROR_SUCCESS) return rc;
    }
    *result = NewHandle(path, access);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_mutex);
    const Handle* handle = FindHandle(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (!(handle->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Store scratch;
    const Store& store = CurrentStore(scratch);
    if (!store.parsed) return ERROR_BADDB;
    const Key* k = LookUpKey(store, handle->path);
    const Value* v = k ? FindValue(*k, valueName ? valueName : "") : nullptr;
    if (!v) {
        if (!data && dataSize) *dataSize = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = v->type;
    DWORD need = static_cast<DWORD>(v->data.size());
    if (!data) {
        if (dataSize) *dataSize = need;
        return ERROR_SUCCESS;
    }
    DWORD room = *dataSize;
    *dataSize = need;
    if (room < need) return ERROR_MORE_DATA;
    if (need) std::memcpy(data, v->data.data(), need);
    bool isString = v->type == REG_SZ || v->type == REG_EXPAND_SZ || v->type == REG_MULTI_SZ;
    if (isString && room > need && (need == 0 || data[need - 1] != 0)) data[need] = 0;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) {
    if (reserved || (!data && dataSize)) return ERROR_INVALID_PARAMETER;
    const std::string_view name = valueName ? valueName : "";
    if (HasControlCharacter(name)) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_mutex);
    const Handle* handle = FindHandle(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (!(handle->access & KEY_SET_VALUE) || WritesDenied(handle->path)) return ERROR_ACCESS_DENIED;
    const std::string& path = handle->path;
    return MutateStore([&](Store& store, bool& dirty) {
        Key* k = FindKey(store, path);
        if (!k) {
            CreateKeyPath(store, path);
            k = FindKey(store, path);
        }
        if (Value* old = FindValue(*k, name)) {
            old->type = type;
            old->data.assign(data, data + dataSize);
        } else {
            k->values.push_back(Value{std::string(name), type, std::vector<BYTE>(data, data + dataSize)});
        }
        dirty = true;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(g_mutex);
    const uintptr_t id = reinterpret_cast<uintptr_t>(key);
    for (size_t i = 0; i < g_openHandles; ++i) {
        if (g_handles[i].id != id) continue;
        std::swap(g_handles[i], g_handles[--g_openHandles]);
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_HANDLE;
}

namespace standin {

std::string RegistryFilePath() { return StorePath(); }

bool PlantRegistryValue(const char* keyPath, const char* valueName, DWORD type, const void* data,
                        DWORD size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string path;
    if (JoinPath("", keyPath, path) != ERROR_SUCCESS) return false;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    Value v{valueName ? valueName : "", type, std::vector<BYTE>(bytes, bytes + (bytes ? size : 0))};
    return MutateStore([&](Store& store, bool& dirty) {
               CreateKeyPath(store, path);
               Key* k = FindKey(store, path);
               if (Value* old = FindValue(*k, v.name)) {
                   *old = v;
               } else {
                   k->values.push_back(v);
               }
               dirty = true;
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

bool RemoveRegistryValue(const char* keyPath, const char* valueName) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string path, name = valueName ? valueName : "";
    if (JoinPath("", keyPath, path) != ERROR_SUCCESS) return false;
    bool found = false;
    MutateStore([&](Store& store, bool& dirty) {
        if (Key* k = FindKey(store, path)) {
            for (size_t i = 0; i < k->values.size(); ++i) {
                if (EqualNoCase(k->values[i].name, name)) {
                    k->values.erase(k->values.begin() + static_cast<long>(i));
                    found = dirty = true;
                    break;
                }
            }
        }
        return ERROR_SUCCESS;
    });
    return found;
}

void DenyRegistryWrites(const char* keyPath) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string path;
    if (JoinPath("", keyPath, path) == ERROR_SUCCESS) g_denied.push_back(path);
}

long RegistryOpenKeys() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<long>(g_openHandles);
}

void KeepRegistryInMemory(bool inMemory) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_inMemory = inMemory;
}

bool ReadRegistryStore(std::string* bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    bool exists = false;
    return ReadStoreBytes(*bytes, exists) && exists;
}

bool WriteRegistryStore(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_inMemory) {
        MemoryStore& m = g_memory;
        m.exists = m.textIsCurrent = true;
        m.text = bytes;
        if (!ParseStore(bytes, m.store)) {
            m.store = Store{};
            m.store.parsed = false;
            m.unreadable = UnreadableStoreNote("in memory", bytes);
        }
        return true;
    }
    // In place, as an editor saving over the file would.
    if (!MakeDirectories(ConfigDirectory())) return false;
    int fd = open(StorePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    return close(fd) == 0 && ok;
}

std::vector<std::string> SetAsideRegistryStores() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_inMemory) return g_memory.setAside;
    std::vector<std::string> names;
    std::string dir = ConfigDirectory(), prefix = std::string(kFileName) + ".bad-";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> stores;
    for (const std::string& name : names) {
        std::string text;
        if (ReadWholeFile(dir + "/" + name, text)) stores.push_back(text);
    }
    return stores;
}

void SetRegistryBeforeRenameHook(void (*hook)()) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_beforeRename = hook;
}

}  // namespace standin
