// The program's string resources by their numbers, and the fixed texts of its windows.
#pragma once

#include <cstdint>

namespace quillet::res {

inline constexpr uint32_t kIdsAboutItem = 101;
inline constexpr uint32_t kIdsProcessing = 104;

// The text of a string resource; empty for an unknown number.
inline const char* LoadString(uint32_t id)
{
    switch (id) {
    case kIdsAboutItem: return "&About Quillet...";
    case kIdsProcessing: return "Processing";
    default: return "";
    }
}

// The maker's web address, shown in the main dialog's link and the About box.
inline constexpr const char* kMakerAddress = "https://www.brackenfold.example/";

// Message boxes carry the program's window title, as the main window and the About box do.
inline constexpr const char* kMessageCaption = "Quillet";

// Under the progress bar once Cancel was pressed, until the files in flight are done.
inline constexpr const char* kCancelling = "Cancelling\u2026";

inline constexpr const char* kBadNumber = "Please enter a positive integer.";

// The About command of the window menu; its low four bits are not part of it.
inline constexpr uint32_t kAboutCommand = 0x10;

}  // namespace quillet::res
