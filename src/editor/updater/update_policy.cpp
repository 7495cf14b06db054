#include "editor/updater/update_policy.h"

#include <windows.h>

namespace {

// A DWORD value of the policy key; 1 (the default: allowed) when not set.
DWORD PolicyNumber(const wchar_t* name) {
    DWORD value = 1, size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, UpdatePolicyKey, name, RRF_RT_REG_DWORD, nullptr,
                        &value, &size) == ERROR_SUCCESS
               ? value
               : 1;
}

} // namespace

UpdatePolicy ReadUpdatePolicy() {
    UpdatePolicy policy;
    policy.UpdatesForbidden = PolicyNumber(L"UpdatesAllowed") == 0;
    policy.AutomaticChecksOff = PolicyNumber(L"AutomaticChecks") == 0;
    wchar_t channel[256] = {};
    DWORD size = sizeof(channel);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, UpdatePolicyKey, L"Channel", RRF_RT_REG_SZ, nullptr,
                     channel, &size) == ERROR_SUCCESS) {
        policy.Channel = channel;
    }
    return policy;
}
