#include "module/registry_script.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace korvane {
namespace {

enum class TokenKind { End, Open, Close, Equals, Word, Quoted };

struct Token {
    TokenKind kind = TokenKind::End;
    AnsiString text;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Control characters and NUL have no place in a script outside whitespace:
// in a name or a value they would only ever be a corrupted file.
bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 && !IsSpace(c)) || u == 0x7F;
}

bool IsReplacementNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const char* a, size_t aLength, const char* b) {
    size_t i = 0;
    for (; i < aLength && b[i] != '\0'; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return i == aLength && b[i] == '\0';
}

bool IsKeyword(const Token& token, const char* keyword) {
    return token.kind == TokenKind::Word &&
           EqualsNoCase(token.text.c_str(), token.text.length(), keyword);
}

bool ParseNumber(const AnsiString& text, DWORD* number) {
    const char* p = text.c_str();
    const size_t length = text.length();
    uint64_t value = 0;
    size_t i = 0;
    unsigned base = 10;
    if (length > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == length) return false;
    for (; i < length; ++i) {
        const char c = p[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
            digit = static_cast<unsigned>(LowerAscii(c) - 'a' + 10);
        } else {
            return false;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return false;
    }
    *number = static_cast<DWORD>(value);
    return true;
}

struct RootName {
    const char* name;
    HKEY hive;
};

const RootName kRoots[] = {
    {"HKCR", HKEY_CLASSES_ROOT},  {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},  {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},          {"HKEY_USERS", HKEY_USERS},
};

class Parser {
public:
    Parser(const char* text, size_t length, const ScriptReplacement* replacements,
           size_t replacementCount)
        : text_(text), length_(length), replacements_(replacements),
          replacementCount_(replacementCount) {}

    bool ParseScript(RegistryScript* script) {
        if (!Next()) return false;
        while (current_.kind != TokenKind::End) {
            ScriptRoot root;
            if (!ParseRoot(&root)) return false;
            script->roots.push_back(std::move(root));
        }
        return true;
    }

    ScriptError error() const { return error_; }
    size_t errorLine() const { return errorLine_; }

private:
    bool Fail(ScriptError error) {
        if (error_ == ScriptError::None) {
            error_ = error;
            errorLine_ = line_;
        }
        return false;
    }

    void SkipSpaceAndComments() {
        while (pos_ < length_) {
            const char c = text_[pos_];
            if (IsSpace(c)) {
                if (c == '\n') ++line_;
                ++pos_;
            } else if (c == '/' && pos_ + 1 < length_ && text_[pos_ + 1] == '/') {
                while (pos_ < length_ && text_[pos_] != '\n') ++pos_;
            } else {
                return;
            }
        }
    }

    bool Append(std::vector<char>& buffer, const char* data, size_t count) {
        if (buffer.size() + count > kMaxValueTextLength) return Fail(ScriptError::TooLong);
        buffer.insert(buffer.end(), data, data + count);
        return true;
    }

    // At a '%': appends the replacement of %NAME%, or one '%' for "%%".
    bool AppendReplacement(std::vector<char>& buffer) {
        const size_t start = pos_ + 1;
        size_t end = start;
        while (end < length_ && end - start <= 64 && IsReplacementNameChar(text_[end])) ++end;
        if (end >= length_ || text_[end] != '%') return Fail(ScriptError::BadReplacement);
        pos_ = end + 1;
        if (end == start) return Append(buffer, "%", 1);
        for (size_t i = 0; i < replacementCount_; ++i) {
            const ScriptReplacement& r = replacements_[i];
            if (!r.name || !r.value || !EqualsNoCase(text_ + start, end - start, r.name)) continue;
            return Append(buffer, r.value, std::strlen(r.value));
        }
        return Fail(ScriptError::BadReplacement);
    }

    bool ReadQuoted(std::vector<char>& buffer) {
        ++pos_;
        for (;;) {
            // A line break inside quotes is taken as a quote never closed:
            // no name or value of ours spans lines.
            if (pos_ >= length_ || text_[pos_] == '\n' || text_[pos_] == '\r')
                return Fail(ScriptError::UnterminatedString);
            const char c = text_[pos_];
            if (c == '\'') {
                if (pos_ + 1 < length_ && text_[pos_ + 1] == '\'') {
                    if (!Append(buffer, "'", 1)) return false;
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                return true;
            }
            if (c == '%') {
                if (!AppendReplacement(buffer)) return false;
                continue;
            }
            if (IsControl(c)) return Fail(ScriptError::InvalidCharacter);
            if (!Append(buffer, &c, 1)) return false;
            ++pos_;
        }
    }

    // A word runs to the next whitespace, as in every .rgs file: that is
    // what lets a class identifier in braces stand unquoted as a key name.
    bool ReadWord(std::vector<char>& buffer) {
        while (pos_ < length_) {
            const char c = text_[pos_];
            if (IsSpace(c)) return true;
            if (c == '%') {
                if (!AppendReplacement(buffer)) return false;
                continue;
            }
            if (IsControl(c)) return Fail(ScriptError::InvalidCharacter);
            if (!Append(buffer, &c, 1)) return false;
            ++pos_;
        }
        return true;
    }

    // Reads the next token into current_. Braces and '=' are tokens of
    // their own only where they stand alone between whitespace.
    bool Next() {
        SkipSpaceAndComments();
        current_.text = AnsiString();
        if (pos_ >= length_) {
            current_.kind = TokenKind::End;
            return true;
        }
        const char c = text_[pos_];
        const bool alone = pos_ + 1 >= length_ || IsSpace(text_[pos_ + 1]);
        if (alone && (c == '{' || c == '}' || c == '=')) {
            current_.kind = c == '{' ? TokenKind::Open : c == '}' ? TokenKind::Close : TokenKind::Equals;
            ++pos_;
            return true;
        }
        std::vector<char> buffer;
        const bool quoted = c == '\'';
        if (!(quoted ? ReadQuoted(buffer) : ReadWord(buffer))) return false;
        current_.kind = quoted ? TokenKind::Quoted : TokenKind::Word;
        current_.text.Assign(buffer.data(), buffer.size());
        return true;
    }

    bool IsName() const {
        return current_.kind == TokenKind::Word || current_.kind == TokenKind::Quoted;
    }

    bool ParseRoot(ScriptRoot* root) {
        if (!IsName()) return Fail(ScriptError::UnexpectedToken);
        bool known = false;
        for (const RootName& r : kRoots) {
            if (!IsKeyword(current_, r.name)) continue;
            root->hive = r.hive;
            known = true;
        }
        if (!known) return Fail(ScriptError::UnknownRoot);
        if (!Next()) return false;
        if (current_.kind != TokenKind::Open) return Fail(ScriptError::UnexpectedToken);
        if (!Next()) return false;
        return ParseBody(&root->keys, nullptr, 1);
    }

    // type 'data', after an '='.
    bool ParseData(ScriptValue* value) {
        if (current_.kind == TokenKind::Quoted) return Fail(ScriptError::BadValueType);
        if (current_.kind != TokenKind::Word) return Fail(ScriptError::UnexpectedToken);
        if (IsKeyword(current_, "s")) {
            value->type = REG_SZ;
        } else if (IsKeyword(current_, "d")) {
            value->type = REG_DWORD;
        } else {
            return Fail(ScriptError::BadValueType);
        }
        if (!Next()) return false;
        if (current_.kind != TokenKind::Quoted) return Fail(ScriptError::UnexpectedToken);
        if (value->type == REG_DWORD) {
            if (!ParseNumber(current_.text, &value->number)) return Fail(ScriptError::BadNumber);
        } else {
            value->text = std::move(current_.text);
        }
        return Next();
    }

    // val name = type 'data'
    bool ParseNamedValue(std::vector<ScriptValue>* values) {
        if (!values) return Fail(ScriptError::ValueOutsideKey);
        if (!Next()) return false;
        if (!IsName()) return Fail(ScriptError::UnexpectedToken);
        if (current_.text.length() > kMaxValueNameLength) return Fail(ScriptError::TooLong);
        ScriptValue value;
        value.name = std::move(current_.text);
        if (!Next()) return false;
        if (current_.kind != TokenKind::Equals) return Fail(ScriptError::UnexpectedToken);
        if (!Next()) return false;
        if (!ParseData(&value)) return false;
        values->push_back(std::move(value));
        return true;
    }

    // [flag] name [= type 'data'] [{ body }]
    bool ParseKey(std::vector<ScriptKey>* keys, int depth) {
        if (depth > kMaxScriptDepth) return Fail(ScriptError::TooDeep);
        ScriptKey key;
        if (IsKeyword(current_, "Delete")) return Fail(ScriptError::Unsupported);
        if (IsKeyword(current_, "ForceRemove") || IsKeyword(current_, "NoRemove")) {
            key.flag = IsKeyword(current_, "NoRemove") ? KeyFlag::NoRemove : KeyFlag::ForceRemove;
            if (!Next()) return false;
            if (!IsName() || IsKeyword(current_, "ForceRemove") || IsKeyword(current_, "NoRemove"))
                return Fail(ScriptError::UnexpectedToken);
        }
        const AnsiString& name = current_.text;
        if (name.empty() || std::strchr(name.c_str(), '\\')) return Fail(ScriptError::BadKeyName);
        if (name.length() > kMaxKeyNameLength) return Fail(ScriptError::TooLong);
        key.name = std::move(current_.text);
        if (!Next()) return false;
        if (current_.kind == TokenKind::Equals) {
            ScriptValue value;
            if (!Next() || !ParseData(&value)) return false;
            key.values.push_back(std::move(value));
        }
        if (current_.kind == TokenKind::Open) {
            if (!Next()) return false;
            if (!ParseBody(&key.subkeys, &key.values, depth + 1)) return false;
        }
        keys->push_back(std::move(key));
        return true;
    }

    // The entries of a block up to and including its closing brace. values
    // is null directly under a root, which holds keys only.
    bool ParseBody(std::vector<ScriptKey>* keys, std::vector<ScriptValue>* values, int depth) {
        for (;;) {
            if (current_.kind == TokenKind::Close) return Next();
            if (current_.kind == TokenKind::End) return Fail(ScriptError::UnexpectedEnd);
            if (!IsName()) return Fail(ScriptError::UnexpectedToken);
            const bool ok = IsKeyword(current_, "val") ? ParseNamedValue(values)
                                                       : ParseKey(keys, depth);
            if (!ok) return false;
        }
    }

    const char* text_;
    size_t length_;
    size_t pos_ = 0;
    size_t line_ = 1;
    const ScriptReplacement* replacements_;
    size_t replacementCount_;
    Token current_;
    ScriptError error_ = ScriptError::None;
    size_t errorLine_ = 0;
};

RegistryRoot RootOf(HKEY hive) {
    if (hive == HKEY_CURRENT_USER) return RegistryRoot::CurrentUser;
    if (hive == HKEY_LOCAL_MACHINE) return RegistryRoot::LocalMachine;
    if (hive == HKEY_USERS) return RegistryRoot::Users;
    return RegistryRoot::ClassesRoot;
}

void AppendKey(const ScriptKey& key, RegistryRoot root, unsigned char depth,
               std::vector<RegistryEntry>* entries) {
    entries->push_back({RegistryEntry::Kind::Key, depth, key.flag, root, key.name.c_str(), nullptr, 0});
    for (const ScriptValue& value : key.values) {
        const bool number = value.type == REG_DWORD;
        entries->push_back({number ? RegistryEntry::Kind::Dword : RegistryEntry::Kind::String, depth,
                            KeyFlag::Unmarked, root, value.name.c_str(),
                            number ? nullptr : value.text.c_str(), value.number});
    }
    for (const ScriptKey& subkey : key.subkeys)
        AppendKey(subkey, root, static_cast<unsigned char>(depth + 1), entries);
}

}  // namespace

std::vector<RegistryEntry> ScriptEntries(const RegistryScript& script) {
    std::vector<RegistryEntry> entries;
    for (const ScriptRoot& root : script.roots)
        for (const ScriptKey& key : root.keys) AppendKey(key, RootOf(root.hive), 0, &entries);
    return entries;
}

ScriptError ParseRegistryScript(const char* text, size_t length,
                                const ScriptReplacement* replacements, size_t replacementCount,
                                RegistryScript* script, size_t* errorLine) noexcept {
    if (errorLine) *errorLine = 0;
    if (!script) return ScriptError::UnexpectedEnd;
    script->roots.clear();
    if (length > kMaxScriptLength) return ScriptError::TooLarge;
    if (!text && length > 0) return ScriptError::UnexpectedEnd;
    try {
        Parser parser(text, length, replacements, replacementCount);
        RegistryScript parsed;
        if (parser.ParseScript(&parsed)) {
            *script = std::move(parsed);
            return ScriptError::None;
        }
        if (errorLine) *errorLine = parser.errorLine();
        return parser.error();
    } catch (...) {
        // Only allocation can fail here; a script too big for memory is
        // reported like any other script that cannot be used.
        script->roots.clear();
        return ScriptError::OutOfMemory;
    }
}

}  // namespace korvane
