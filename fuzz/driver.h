// The frame every fuzz target shares: the input gate, the input as a memory source, the rule
// that big claims are only measured, and the reads in every layout. A target defines FuzzOne.
#pragma once

#include "pxlib.hpp"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace fuzz {

using Input = std::span<const uint8_t>;

// Larger inputs slow the search without reaching more code.
constexpr size_t kMaxInput = 1u << 20;

// Pictures claiming more are only measured: allocating and decoding them slows the search
// without finding more.
constexpr uint64_t kMaxPixels = 2u << 20;

// The input as a memory source; empty when the library refuses it.
pxlib::Channel OpenSource(Input input);

// The source at its start again, for the next read.
DataChannel* Rewound(const pxlib::Channel& source);

// True when `fileType`'s header reads and claims at most kMaxPixels.
bool Decodable(const pxlib::Channel& source, uint32_t fileType, uint32_t* width, uint32_t* height);

// A whole-picture reader that takes a layout and a palette (ReadBMP, ReadPCX, ReadPNG ...).
using LayoutReader = uint8_t* (*)(DataChannel*, uint32_t*, uint32_t*, uint32_t, uint8_t*);

// Reads the whole picture from the start once in each layout of `bits`.
void ReadEachLayout(const pxlib::Channel& source, LayoutReader read, std::initializer_list<uint32_t> bits);

}  // namespace fuzz

// One input of 1 to kMaxInput bytes; every path must end in a result or a code, never a crash,
// a leak or a stray read.
void FuzzOne(fuzz::Input input);
