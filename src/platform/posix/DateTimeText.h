// Date, time and number texts in the user's formats (LC_TIME, LC_NUMERIC of the environment,
// whatever the program's own setlocale says, as Windows takes them from the user's settings).
#pragma once

#include <locale.h>

#include <ctime>
#include <string>

namespace vx380::posix {

// Short date and time of `when` in `locale`; a null locale and the C/POSIX locale read like
// US English: "3/5/2021" and "2:07:09 PM". UTF-8.
std::string FormatDateText(const std::tm& when, locale_t locale);
std::string FormatTimeText(const std::tm& when, locale_t locale);

}  // namespace vx380::posix
