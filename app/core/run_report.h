// What the desktop program tells about a run: the line of the file being made, and the
// summary with its details after every run.
#pragma once

#include "core/batch.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillet {

// "12 of 160: IMG_0042.jpg" while file `position` (counting from 0) of `count` is made.
std::string FileLineText(uint32_t position, uint32_t count, const std::string& path);

// The texts below are made in their English source form, where "%n" stands for a number and
// "(s)" for the plural ending; a translation hook may give them in the user's language, with
// "%n" already filled in. `n` is -1 for a text without a number.
using TranslateText = std::function<std::string(const char* source, long n)>;

// The English form: "%n" replaced by `n`, "(s)" by "s" unless `n` is 1.
std::string EnglishText(const char* source, long n);

// One line per skipped file, "name: reason", then one per thumbnail made from an incomplete
// source; names relative to `sourceFolder`.
std::string RunDetailsText(const BatchResult& result, const std::string& sourceFolder,
                           const std::vector<std::string>& incompleteSources = {},
                           const TranslateText& translate = EnglishText);

// "0.4 s", "12 s", "2 min 05 s", "1 h 02 min"; the locale gives the decimal point.
std::string DurationText(double seconds, char decimalPoint = '.');

// What the window says after every run that started: "Cancelled after 96 of 400 files" for a
// cancelled run, then "3 thumbnails written, 4 up to date, 1 skipped" (only the written count
// when nothing else happened), then "Time taken: 2.4 s". The reason comes first when the
// destination was lost.
std::string RunEndText(const BatchResult& result, uint32_t fileCount, double seconds,
                       const TranslateText& translate = EnglishText, char decimalPoint = '.');

}  // namespace quillet
