#include "editor/updater/update_policy.h"

#include <cstring>

namespace {

const wchar_t* TypeName(DWORD type) {
    switch (type) {
    case REG_DWORD:
        return L"REG_DWORD";
    case REG_QWORD:
        return L"REG_QWORD";
    case REG_SZ:
        return L"REG_SZ";
    case REG_EXPAND_SZ:
        return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ:
        return L"REG_MULTI_SZ";
    case REG_BINARY:
        return L"REG_BINARY";
    }
    return L"a type of its own";
}

// A value of the policy key as it is stored; false when it is not set.
bool ReadPolicyValue(const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, UpdatePolicyKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                     nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    data.assign(size + sizeof(wchar_t), 0); // room for a NUL the value may lack
    return RegGetValueW(HKEY_LOCAL_MACHINE, UpdatePolicyKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                        data.data(), &size) == ERROR_SUCCESS &&
           (data.resize(size), true);
}

// A number of the policy key; unset: 1, allowed.
std::uint64_t ReadNumber(const wchar_t* name, UpdatePolicy& policy) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadPolicyValue(name, type, data)) {
        return 1;
    }
    const std::optional<std::uint64_t> number =
        PolicyNumber(type, data.data(), static_cast<DWORD>(data.size()));
    if (!number) {
        policy.Ignored.push_back(std::wstring(name) + L": " + TypeName(type) + L", not a number");
    }
    return number.value_or(1);
}

} // namespace

std::optional<std::uint64_t> PolicyNumber(DWORD type, const void* data, DWORD size) {
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data, sizeof(value));
        return value;
    }
    if (type == REG_QWORD && size == sizeof(std::uint64_t)) {
        std::uint64_t value = 0;
        std::memcpy(&value, data, sizeof(value));
        return value;
    }
    if (type != REG_SZ) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    if (text.empty() || text.size() > 19 || text.find_first_not_of(L"0123456789") != text.npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

UpdatePolicy ReadUpdatePolicy() {
    UpdatePolicy policy;
    policy.UpdatesForbidden = ReadNumber(L"UpdatesAllowed", policy) == 0;
    policy.AutomaticChecksOff = ReadNumber(L"AutomaticChecks", policy) == 0;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadPolicyValue(L"Channel", type, data)) {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        policy.Channel = type == REG_SZ ? text.c_str() : L"";
        if (type != REG_SZ) {
            policy.Ignored.push_back(std::wstring(L"Channel: ") + TypeName(type) + L", not a text");
        }
    }
    return policy;
}
