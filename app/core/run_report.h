// What the desktop program tells about a run: the line of the file being made, and the
// summary with its details after a run that skipped files.
#pragma once

#include "core/batch.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillet {

// "12 of 160: IMG_0042.jpg" while file `position` (counting from 0) of `count` is made.
std::string FileLineText(uint32_t position, uint32_t count, const std::string& path);

// A run that wrote everything it was given, from whole sources, needs no words.
bool RunNeedsSummary(const BatchResult& result);

// "3 thumbnails written, 1 file skipped", with ", 2 from incomplete sources", ", 4 up to
// date" and ", 1 kept (...)" after the written count when there were such, and the reason
// first when the destination was lost.
std::string RunSummaryText(const BatchResult& result);

// One line per skipped file, "name: reason", then one per thumbnail made from an incomplete
// source; names relative to `sourceFolder`.
std::string RunDetailsText(const BatchResult& result, const std::string& sourceFolder,
                           const std::vector<std::string>& incompleteSources = {});

}  // namespace quillet
