// A contact sheet: one row of frames per transition at a few fixed progress values, each row
// labelled with the transition's number, for a person to look through all of them at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster/raster.h"

namespace lumivor {

// The seeds a frame is composed with when none is chosen; a sheet uses them for every cell, so
// each cell is the frame "lumivor effect N --progress P" makes without seed options.
inline constexpr std::uint32_t DefaultSourceSeed = 0x2468ACE1u;
inline constexpr std::uint32_t DefaultRandomSeed = 0;

// Labels for pictures: number drawn with digits 5 blocks high, each block scale x scale pixels,
// its top left corner at (left, top); NumberWidth is how many pixels wide it comes out.
int NumberWidth(int number, int scale);
void DrawNumber(Bitmap& picture, int left, int top, int number, int scale, std::uint32_t colour);

// The progress of each column, left to right.
inline constexpr int ContactSheetProgress[] = {10, 25, 50, 75, 90};

// oldPicture and newPicture are 32-bit and of one size, which is the size of every cell; effects
// are numbers 1..EffectCount in the order of the rows. Every frame is composed with the given
// seeds, the way the command composes a single frame.
bool RenderContactSheet(const Bitmap& oldPicture, const Bitmap& newPicture, const std::vector<int>& effects,
                        std::uint32_t randomSeed, Bitmap& sheet, std::string& errorText);

// The whole sheet from two pictures of any size (each stretched to cellWidth x cellHeight) or,
// when they are null, from the two sample pictures drawn at the cell size. Both pictures or
// neither; the pictures must be of one size. Seeds are the defaults above.
bool ComposeContactSheet(const Bitmap* oldPicture, const Bitmap* newPicture, int cellWidth, int cellHeight,
                         const std::vector<int>& effects, Bitmap& sheet, std::string& errorText);

}  // namespace lumivor
