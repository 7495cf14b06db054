#pragma once

#include <string>

// UTF-16 to UTF-8 and back, as Windows converts them; a text that is not
// valid UTF-8 gives the empty text.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& utf8);
