// Rules of the web link: its text colour, starting the opener quietly, the failure text, and
// the desktop's default handler for web pages as a fallback.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// Style bits of the link control.
inline constexpr uint32_t kLinkUnderline = 0x01;
inline constexpr uint32_t kLinkHoverColour = 0x02;
inline constexpr uint32_t kLinkFitText = 0x04;
inline constexpr uint32_t kLinkOpenOnPress = 0x08;
inline constexpr uint32_t kLinkTakeFocus = 0x10;
inline constexpr uint32_t kLinkNoHandCursor = 0x20;
inline constexpr uint32_t kLinkNoActiveColour = 0x40;
inline constexpr uint32_t kLinkDefaultStyle = kLinkUnderline | kLinkFitText | kLinkTakeFocus;

struct LinkColour {
    uint8_t red, green, blue;
    bool operator==(const LinkColour&) const = default;
};

inline constexpr LinkColour kLinkColour{0, 0, 255};
inline constexpr LinkColour kActiveColour{0, 128, 128};
inline constexpr LinkColour kVisitedColour{128, 0, 128};
inline constexpr LinkColour kHoverColour{255, 0, 0};

LinkColour TextColour(uint32_t style, bool active, bool over, bool visited);

// "No web browser could be started to open " and the address.
std::string NoBrowserText(const std::string& address);

// Starts `argv` (its program looked up in PATH) with no terminal output: its standard output
// and errors go to /dev/null. Gives the process id, or -1 when it could not be started.
long StartQuietly(const std::vector<std::string>& argv);

enum class OpenerState { Running, Succeeded, Failed };

// How a process from StartQuietly stands; once it has ended it is reaped, and asking again
// gives Failed.
OpenerState PollOpener(long pid);

// The default handler's command line for HTML documents, from the MIME associations of
// the freedesktop.org MIME application lists (mimeapps.list, then the handler's desktop entry).
std::optional<std::string> HtmlHandlerCommand();

// The handler command cut at its file or URL placeholder (at the opening quote when it is
// quoted), followed by a space and the address.
std::string HandlerCommandLine(const std::string& command, const std::string& address);

}  // namespace quillet
