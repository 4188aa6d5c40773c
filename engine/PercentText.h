#pragma once

#include <string>

// A share (0..1) in percent with this many decimals, or with as many more as
// it takes not to read as all or none of something that is neither: 9 999 of
// 10 000 reads "99.99", not "100.0"; 1 of 10 000 "0.01", not "0.0".
std::string percentText(double share, int decimals);
