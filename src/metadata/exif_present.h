#pragma once
// Presentation of TExifItem: value texts, date texts, display lines and the EXIF listing
// of a file, with the Japanese number formats of the information panel.
#include <string>
#include <vector>

#include "metadata/exif_item.h"

namespace fv {

// Float formatting with a pattern: '#' optional digit, '0' required digit, ',' grouping,
// '.' decimal point, text in double quotes copied. Rounds half away from zero.
std::string FormatFloatPattern(const std::string& pattern, double value);
// the "%n" family: thousands separators and the given decimals, right-aligned to width
std::string FormatNumber(double value, int decimals = 2, int width = 0);

// Value text of an index; defaultText when the index is not present, "Error" when
// formatting fails.
std::string GetValueText(const TExifItem& item, TExifTagIndex index, const std::string& defaultText);
// The value text with line breaks turned into blanks and trimmed; withLabel applies
// format ("%-16s : %s" and the like, two %s) to label and value.
std::string GetDisplayLine(const TExifItem& item, TExifTagIndex index, bool withLabel, const std::string& format,
                           const std::string& defaultText);
// "不明" for 0; DateFormat when set; else "yyyy/mm/dd hh:nn:ss" and ".<sub-second>" when positive
std::string FormatExifDate(const TExifItem& item, int subSecond, TDateTime date);
// Formats a date with yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s; other characters copied.
std::string FormatDatePattern(const std::string& pattern, TDateTime date);

// The EXIF listing of a file (maker note not read): one display line per present index in
// display order. False when the file has no readable EXIF.
bool ListExif(const std::string& fileName, bool isJpeg, const std::string& format, const std::string& defaultText,
              std::vector<std::string>& lines);

}  // namespace fv
