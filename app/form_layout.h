#pragma once

#include <array>
#include <string_view>

#include "catalogue/catalogue.h"

namespace avendro {

// Where each control of the form lies, in twips (15 to a pixel at 100 %),
// relative to its parent: the boxes to Frame1, the rest to the window's
// client area. Qt-free, so that tools/catalogue can print it for the
// package's proof, which clicks them.
struct FormRect {
  int left, top, width, height;
};

inline constexpr FormRect kFrame1Place{120, 240, 4335, 9135};
inline constexpr std::array<FormRect, kSlotCount> kBoxPlaces = {{
    {480, 360, 3735, 400},  {480, 840, 3735, 400},  {480, 1320, 3735, 400}, {480, 1800, 3735, 400},
    {480, 2280, 3735, 400}, {480, 2760, 3735, 400}, {480, 3240, 3735, 400}, {480, 3720, 3735, 400},
    {480, 4200, 3735, 400}, {480, 4680, 3735, 400}, {480, 5160, 3735, 400}, {480, 5640, 3735, 400},
    {480, 6120, 3735, 400}, {480, 6600, 3735, 400}, {480, 7080, 3735, 495}, {480, 7680, 3735, 495},
    {840, 8400, 375, 615},  {1320, 8400, 375, 615}, {1920, 8400, 375, 615}, {2400, 8400, 495, 615},
}};
inline constexpr FormRect kCommand1Place{120, 9480, 4335, 1215};    // AGGIORNA
inline constexpr FormRect kCommand2Place{10200, 9480, 4815, 1215};  // USCITA
inline constexpr FormRect kCommand3Place{5160, 9480, 4335, 1215};   // INSTALLA
inline constexpr FormRect kTxtStatusPlace{10200, 240, 4875, 9165};
inline constexpr FormRect kPicture1Place{5760, 2280, 3255, 2775};
inline constexpr FormRect kDrive1Place{7920, 7200, 2175, 315};
inline constexpr FormRect kLabel1Place{4680, 1320, 5415, 855};
inline constexpr FormRect kLabel3Place{4560, 240, 5535, 975};
inline constexpr FormRect kLabel4Place{5520, 5040, 3735, 615};
inline constexpr FormRect kLabel9Place{5520, 7920, 3495, 375};
inline constexpr FormRect kProgressPlace{5520, 5700, 3735, 375};  // below Label4

// The controls a proof of the window needs, by their form names.
struct NamedPlace {
  std::string_view name;
  FormRect place;
};
inline constexpr std::array<NamedPlace, 5> kProvedPlaces = {{
    {"Frame1", kFrame1Place},
    {"txtStatus", kTxtStatusPlace},
    {"Command1", kCommand1Place},
    {"Command2", kCommand2Place},
    {"Picture1", kPicture1Place},
}};

}  // namespace avendro
