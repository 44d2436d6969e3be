#include "platform/posix/RegistryFile.h"

#include <algorithm>
#include <optional>

namespace stipplor {

namespace {

constexpr std::string_view Header = "REGEDIT4";
constexpr std::string_view UnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view RootKey = "HKEY_CURRENT_USER\\";
constexpr size_t WrapColumn = 76;

char LowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsControl(char c) noexcept {
    return static_cast<unsigned char>(c) < 0x20;
}

bool IsBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) noexcept {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The physical lines of the text, without "\n" or "\r\n".
class TLines {
public:
    explicit TLines(std::string_view text) : rest_(text) {}

    bool Next(std::string_view& line) noexcept {
        if (rest_.empty())
            return false;
        const size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_ = end == std::string_view::npos ? std::string_view{} : rest_.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        return true;
    }

private:
    std::string_view rest_;
};

// One value line, read left to right; a hex list may go on over the following lines.
class TValueLine {
public:
    TValueLine(std::string_view line, TLines& lines) : line_(line), lines_(lines) {}

    bool ReadName(std::string& name) {
        if (Take('@'))
            return true;
        return ReadQuoted(name, MaxRegistryNameLength);
    }

    bool Take(char c) noexcept {
        if (pos_ < line_.size() && line_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Take(std::string_view word) noexcept {
        if (!line_.substr(pos_).starts_with(word))
            return false;
        pos_ += word.size();
        return true;
    }

    bool AtEnd() const noexcept { return TrimBlanks(line_.substr(pos_)).empty(); }

    // The data after "=": nullopt for "-", which removes the value.
    bool ReadData(std::optional<TRegistryData>& data) {
        if (Take('-')) {
            data.reset();
            return AtEnd();
        }
        TRegistryData value;
        const bool read = line_.substr(pos_).starts_with('"') ? ReadString(value)
                          : Take("dword:")                    ? ReadDWord(value)
                                                              : ReadHex(value);
        if (!read || !AtEnd())
            return false;
        data = std::move(value);
        return true;
    }

private:
    // A quoted text with the escapes \\ and \"; control characters end it as malformed.
    bool ReadQuoted(std::string& text, size_t limit) {
        if (!Take('"'))
            return false;
        text.clear();
        while (pos_ < line_.size()) {
            char c = line_[pos_++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (pos_ == line_.size() || (line_[pos_] != '\\' && line_[pos_] != '"'))
                    return false;
                c = line_[pos_++];
            } else if (IsControl(c)) {
                return false;
            }
            if (text.size() == limit)
                return false;
            text += c;
        }
        return false;
    }

    bool ReadString(TRegistryData& value) {
        std::string text;
        if (!ReadQuoted(text, MaxRegistryValueSize - 1))
            return false;
        value.Type = TRegistryValueType::String;
        value.Bytes.assign(text.begin(), text.end());
        value.Bytes.push_back(0);
        return true;
    }

    // Up to MaxDigits hex digits (at least one).
    bool ReadHexNumber(uint32_t& number, size_t maxDigits) noexcept {
        size_t digits = 0;
        number = 0;
        while (pos_ < line_.size() && HexDigit(line_[pos_]) >= 0 && digits < maxDigits) {
            number = number << 4 | static_cast<uint32_t>(HexDigit(line_[pos_++]));
            ++digits;
        }
        return digits > 0;
    }

    // Exactly eight digits, as exported: a line cut short must not pass for a smaller number.
    // Not noexcept: the value's bytes are allocated.
    bool ReadDWord(TRegistryData& value) {
        const size_t start = pos_;
        uint32_t number = 0;
        if (!ReadHexNumber(number, 8) || pos_ - start != 8)
            return false;
        value.Type = TRegistryValueType::DWord;
        value.Bytes = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                       static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return true;
    }

    // "hex:" (binary) or "hex(type):", then two-digit bytes separated by commas; after a
    // comma a backslash at the end of the line continues the list on the next line.
    bool ReadHex(TRegistryData& value) {
        uint32_t type = static_cast<uint32_t>(TRegistryValueType::Binary);
        if (!Take("hex"))
            return false;
        if (Take('(') && !(ReadHexNumber(type, 8) && Take(')')))
            return false;
        if (!Take(':'))
            return false;
        value.Type = static_cast<TRegistryValueType>(type);
        value.Bytes.clear();
        SkipBlanks();
        if (AtEnd())
            return true;
        for (;;) {
            if (!ReadByte(value.Bytes))
                return false;
            SkipBlanks();
            if (!Take(','))
                return AtEnd();
            SkipBlanks();
            if (Take('\\') && !ContinueOnNextLine())
                return false;
        }
    }

    // Not noexcept: growing the vector may run out of memory, which must reach the reader.
    bool ReadByte(std::vector<uint8_t>& bytes) {
        if (pos_ + 2 > line_.size() || bytes.size() == MaxRegistryValueSize)
            return false;
        const int high = HexDigit(line_[pos_]);
        const int low = HexDigit(line_[pos_ + 1]);
        if (high < 0 || low < 0)
            return false;
        pos_ += 2;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        return true;
    }

    bool ContinueOnNextLine() noexcept {
        if (!AtEnd() || !lines_.Next(line_))
            return false;
        pos_ = 0;
        SkipBlanks();
        return true;
    }

    void SkipBlanks() noexcept {
        while (pos_ < line_.size() && IsBlank(line_[pos_]))
            ++pos_;
    }

    std::string_view line_;
    size_t pos_ = 0;
    TLines& lines_;
};

bool IsHeader(std::string_view line) noexcept {
    if (line.starts_with(ByteOrderMark))
        line.remove_prefix(ByteOrderMark.size());
    line = TrimBlanks(line);
    return line == Header || line == UnicodeHeader;
}

// Whether a section line "[...]" names this key.
bool IsSectionOf(std::string_view line, std::string_view keyPath) noexcept {
    const std::string_view inner = line.substr(1, line.size() - 2);
    return inner.size() == RootKey.size() + keyPath.size() &&
           EqualsIgnoringCase(inner.substr(0, RootKey.size()), RootKey) &&
           EqualsIgnoringCase(inner.substr(RootKey.size()), keyPath);
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}

// A string the quoted form can hold: one terminating zero and no control characters.
bool IsQuotable(const TRegistryData& data) noexcept {
    return data.Type == TRegistryValueType::String && !data.Bytes.empty() &&
           data.Bytes.back() == 0 &&
           std::none_of(data.Bytes.begin(), data.Bytes.end() - 1,
                        [](uint8_t b) { return b < 0x20; });
}

void AppendHexDigits(std::string& out, uint32_t number, int minDigits) {
    constexpr char Digits[] = "0123456789abcdef";
    char text[8];
    int count = 0;
    do {
        text[count++] = Digits[number & 15];
        number >>= 4;
    } while (number != 0 || count < minDigits);
    while (count > 0)
        out += text[--count];
}

void AppendData(std::string& out, size_t lineStart, const TRegistryData& data) {
    if (IsQuotable(data)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(data.Bytes.data()),
                                           data.Bytes.size() - 1));
        return;
    }
    if (data.Type == TRegistryValueType::DWord && data.Bytes.size() == 4) {
        out += "dword:";
        AppendHexDigits(out,
                        uint32_t{data.Bytes[0]} | uint32_t{data.Bytes[1]} << 8 |
                            uint32_t{data.Bytes[2]} << 16 | uint32_t{data.Bytes[3]} << 24,
                        8);
        return;
    }
    out += "hex";
    if (data.Type != TRegistryValueType::Binary) {
        out += '(';
        AppendHexDigits(out, static_cast<uint32_t>(data.Type), 1);
        out += ')';
    }
    out += ':';
    for (size_t i = 0; i < data.Bytes.size(); ++i) {
        AppendHexDigits(out, data.Bytes[i], 2);
        if (i + 1 == data.Bytes.size())
            break;
        out += ',';
        if (out.size() - lineStart >= WrapColumn) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
    }
}

} // namespace

bool RegistryValueFits(std::string_view Name, size_t Size) noexcept {
    return Name.size() <= MaxRegistryNameLength && Size <= MaxRegistryValueSize &&
           std::none_of(Name.begin(), Name.end(), IsControl);
}

TRegistryValues ParseRegistryFile(std::string_view Text, std::string_view KeyPath) {
    TRegistryValues values;
    TLines lines(Text);
    std::string_view line;
    if (Text.size() > MaxRegistryFileSize || !lines.Next(line) || !IsHeader(line))
        return values;
    bool inKey = false;
    while (lines.Next(line)) {
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == ';')
            continue;
        if (trimmed.front() == '[') {
            inKey = trimmed.back() == ']' && IsSectionOf(trimmed, KeyPath);
            continue;
        }
        // A value line is read even outside the key, so that its continuation lines go too.
        TValueLine value(trimmed, lines);
        std::string name;
        std::optional<TRegistryData> data;
        if (!value.ReadName(name) || !value.Take('=') || !value.ReadData(data) || !inKey)
            continue;
        if (data)
            values.insert_or_assign(std::move(name), std::move(*data));
        else
            values.erase(name);
    }
    return values;
}

std::string FormatRegistryFile(const TRegistryValues& Values, std::string_view KeyPath) {
    std::string out;
    out.append(Header).append("\n\n[").append(RootKey).append(KeyPath).append("]\n");
    for (const auto& [name, data] : Values) {
        const size_t lineStart = out.size();
        if (name.empty())
            out += '@';
        else
            AppendQuoted(out, name);
        out += '=';
        AppendData(out, lineStart, data);
        out += '\n';
    }
    out += '\n';
    return out;
}

} // namespace stipplor
