#include "base/paths.h"

namespace {

bool IsAsciiLetter(wchar_t character) {
    return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z');
}

wchar_t FoldAsciiCase(wchar_t character) {
    return (character >= L'A' && character <= L'Z') ? static_cast<wchar_t>(character + 32)
                                                    : character;
}

} // namespace

bool IsPathSeparator(wchar_t character) {
    return character == L'\\' || character == L'/';
}

bool IsAbsolutePath(std::wstring_view path) {
    const bool driveRooted =
        path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsPathSeparator(path[2]);
    const bool shareOrDevice = path.size() >= 3 && IsPathSeparator(path[0]) &&
                               IsPathSeparator(path[1]) && !IsPathSeparator(path[2]);
    const bool objectManager = path.size() >= 4 && IsPathSeparator(path[0]) && path[1] == L'?' &&
                               path[2] == L'?' && IsPathSeparator(path[3]) &&
                               (path.size() == 4 || !IsPathSeparator(path[4]));
    return driveRooted || shareOrDevice || objectManager;
}

std::wstring ParentFolder(std::wstring_view path) {
    size_t end = path.size();
    while (end > 0 && !IsPathSeparator(path[end - 1])) {
        --end;
    }
    if (end == 0) {
        return std::wstring();
    }
    while (end > 0 && IsPathSeparator(path[end - 1])) {
        --end;
    }
    // "C:" alone is the current folder of drive C, not its root: keep one
    // separator so that the parent of "C:\x.exe" stays "C:\".
    if (end > 0 && path[end - 1] == L':') {
        return std::wstring(path.substr(0, end)) + path[end];
    }
    return std::wstring(path.substr(0, end));
}

std::wstring_view LastPathComponent(std::wstring_view path) {
    size_t start = path.size();
    while (start > 0 && !IsPathSeparator(path[start - 1])) {
        --start;
    }
    return path.substr(start);
}

std::wstring WithBackslashes(std::wstring path) {
    for (wchar_t& character : path) {
        if (character == L'/') {
            character = L'\\';
        }
    }
    return path;
}

bool EqualsIgnoringAsciiCase(std::wstring_view first, std::wstring_view second) {
    if (first.size() != second.size()) {
        return false;
    }
    for (size_t index = 0; index < first.size(); ++index) {
        if (FoldAsciiCase(first[index]) != FoldAsciiCase(second[index])) {
            return false;
        }
    }
    return true;
}
