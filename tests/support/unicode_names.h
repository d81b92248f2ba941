#pragma once
// A name outside every ANSI code page: Polish letters (code page 1250 only) and Japanese
// ones (932 only), so no single code page holds it and a narrow call turns it into '?' or
// a look-alike. Spelled with escapes: the test does not depend on how its source is read.

namespace tarnlink::test {

/// "Łódź-日本" in UTF-8, as the programs hold it.
inline constexpr char NON_ANSI_NAME[] = "\xC5\x81\xC3\xB3\x64\xC5\xBA-\xE6\x97\xA5\xE6\x9C\xAC";
/// The same name in UTF-16, as Windows names it.
inline constexpr wchar_t NON_ANSI_NAME_WIDE[] = L"\u0141\u00F3d\u017A-\u65E5\u672C";

}  // namespace tarnlink::test
