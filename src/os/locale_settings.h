#pragma once

// What the user's regional settings say about writing numbers, read without touching the
// process locale, so other code keeps parsing and printing with '.'.
namespace pasarela {

// The character the user's regional settings use as decimal separator ('.' if unknown).
char UserDecimalSeparator();

}  // namespace pasarela
