#pragma once

// Generates command lines for the helper: fully random lists, and valid
// requests with a few mutations (signs, blanks, slashes, prefixes, letter
// case, long strings, dropped or extra arguments). Deterministic per seed.

#include <random>
#include <string>
#include <vector>

// A request the check accepts: element 0, arguments 1 to 8, one editor argument.
inline std::vector<std::wstring> ValidRequestArguments() {
    return {L"C:\\Program Files\\Tavo PDF\\helper.exe",
            L"4242",
            L"Local\\TavoPDFUpdate-3f2a",
            L"C:\\Users\\ana\\Downloads\\update.msi",
            std::wstring(64, L'a'),
            L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe",
            L"2.0",
            L"msi",
            L"C:\\Users\\ana\\AppData\\Local\\Temp\\status.txt",
            L"--restore"};
}

inline std::wstring RandomText(std::mt19937& random, size_t maxLength) {
    static const std::wstring rich = L"0123456789 \t\\/\"':.+-?*<>|abcxyzABCXYZ\u00e9\u4e2d";
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<int> kind(0, 9);
    std::wstring text;
    const size_t wanted = length(random);
    while (text.size() < wanted) {
        const int choice = kind(random);
        if (choice < 7) {
            text += rich[std::uniform_int_distribution<size_t>(0, rich.size() - 1)(random)];
        } else if (choice == 7) {
            text += L"\U0001F600"; // a surrogate pair
        } else if (choice == 8) {
            // any BMP unit, lone surrogates included
            text += static_cast<wchar_t>(std::uniform_int_distribution<int>(1, 0xFFFF)(random));
        } else {
            text += L"Local\\TavoPDFUpdate-";
        }
    }
    return text;
}

inline std::wstring ToggleAsciiCase(std::wstring text, std::mt19937& random) {
    for (wchar_t& unit : text) {
        if (random() % 2 == 0) {
            continue;
        }
        if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<wchar_t>(unit - 32);
        } else if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit + 32);
        }
    }
    return text;
}

// One mutation of one argument of a valid list (element 0 is not touched).
inline void MutateArguments(std::vector<std::wstring>& arguments, std::mt19937& random,
                            size_t longLength, bool keepStatusPathInPlace) {
    if (arguments.size() < 2) {
        return;
    }
    size_t index = std::uniform_int_distribution<size_t>(1, arguments.size() - 1)(random);
    const bool isStatusPath = index == 8;
    std::wstring& argument = arguments[index];
    static const wchar_t* const processIds[] = {L"0",
                                                L"-1",
                                                L"-0",
                                                L"+0",
                                                L"4294967295",
                                                L"4294967296",
                                                L"99999999999999999999",
                                                L" 12",
                                                L"12 ",
                                                L"\t7",
                                                L"0x1f",
                                                L"",
                                                L"1e3",
                                                L"+-1",
                                                L"--1",
                                                L"00000000000000000000042"};
    static const wchar_t* const prefixes[] = {L"\\\\?\\", L"\\??\\",  L"\\\\",    L"C:",      L"\\",
                                              L"/",       L"\\\\.\\", L"Local\\", L"Global\\"};
    switch (std::uniform_int_distribution<int>(0, isStatusPath && keepStatusPathInPlace ? 3 : 11)(
        random)) {
    case 0:
        argument = ToggleAsciiCase(argument, random);
        break;
    case 1:
        for (wchar_t& unit : argument) {
            unit = unit == L'\\' ? L'/' : unit == L'/' ? L'\\' : unit;
        }
        break;
    case 2:
        argument.insert(0, prefixes[random() % std::size(prefixes)]);
        break;
    case 3:
        argument = argument.substr(std::min<size_t>(argument.size(), 1 + random() % 3));
        break;
    case 4:
        argument.insert(0, 1, random() % 2 ? L'+' : L'-');
        break;
    case 5:
        argument.insert(argument.empty() ? 0 : random() % argument.size(), 1,
                        random() % 2 ? L' ' : L'\t');
        break;
    case 6:
        argument = processIds[random() % std::size(processIds)];
        break;
    case 7:
        argument = RandomText(random, 24);
        break;
    case 8:
        while (argument.size() < longLength) {
            argument += argument.empty() ? std::wstring(L"x") : argument;
        }
        argument.resize(longLength);
        break;
    case 9:
        argument.resize(argument.size() / 2);
        break;
    case 10:
        arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(index));
        break;
    default:
        arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(index), L"--inserted");
        break;
    }
}

// Element 0 first; arguments 1 onward either random or a mutated valid list.
inline std::vector<std::wstring> GenerateArgumentList(std::mt19937& random,
                                                      const std::vector<std::wstring>& valid,
                                                      size_t longLength,
                                                      bool keepStatusPathInPlace) {
    if (random() % 4 == 0) {
        std::vector<std::wstring> arguments = {valid[0]};
        const size_t count = random() % 15;
        for (size_t index = 0; index < count; ++index) {
            arguments.push_back(RandomText(random, random() % 10 == 0 ? longLength : 40));
        }
        return arguments;
    }
    std::vector<std::wstring> arguments = valid;
    const int mutations = 1 + static_cast<int>(random() % 3);
    for (int mutation = 0; mutation < mutations; ++mutation) {
        MutateArguments(arguments, random, longLength, keepStatusPathInPlace);
    }
    return arguments;
}
