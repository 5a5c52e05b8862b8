// The JSON line the terminal writes for each file of a run.
#include "core/batch.h"

#include <cstdio>
#include <iterator>

namespace quillet {

const char* FileStatusText(FileStatus status)
{
    // In the order of FileStatus.
    static constexpr const char* kTexts[] = {"written", "incomplete", "up to date",
                                             "skipped", "kept",       "would be written"};
    static_assert(std::size(kTexts) == static_cast<size_t>(FileStatus::WouldBeWritten) + 1);
    const auto i = static_cast<size_t>(status);
    return i < std::size(kTexts) ? kTexts[i] : "";
}

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned lead = byte(i);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (lead >= 0xF5)
        length = 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values beyond U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90))
        return 0;
    return length;
}

// A JSON string; a byte that is not part of valid UTF-8 is taken as the Latin-1 character.
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        ++i;
    }
    return out + '"';
}

}  // namespace

std::string ReportLine(const FileRecord& r)
{
    const bool made = r.status == FileStatus::Written || r.status == FileStatus::Incomplete;
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, ",\"code\":%u,\"size\":%llu,\"milliseconds\":%.1f}", r.code,
                  static_cast<unsigned long long>(made ? r.bytes : 0), r.milliseconds);
    return "{\"path\":" + JsonString(r.path) + ",\"status\":" + JsonString(FileStatusText(r.status)) +
           ",\"reason\":" + JsonString(r.reason) + ",\"thumbnail\":" + JsonString(r.thumbnail) + numbers;
}

}  // namespace quillet
