#include "install/installer_command_line.h"

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t pendingBackslashes = 0;
    for (const wchar_t character : argument) {
        if (character == L'\\') {
            ++pendingBackslashes;
            continue;
        }
        if (character == L'"') {
            quoted.append(2 * pendingBackslashes + 1, L'\\');
        } else {
            quoted.append(pendingBackslashes, L'\\');
        }
        quoted += character;
        pendingBackslashes = 0;
    }
    quoted.append(2 * pendingBackslashes, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring JoinQuotedArguments(const std::vector<std::wstring>& arguments) {
    std::wstring joined;
    for (const std::wstring& argument : arguments) {
        if (!joined.empty()) {
            joined += L' ';
        }
        joined += QuoteArgument(argument);
    }
    return joined;
}

std::wstring BuildCommandLine(const std::wstring& programPath, const std::wstring& arguments) {
    std::wstring commandLine = QuoteArgument(programPath);
    if (!arguments.empty()) {
        commandLine += L' ';
        commandLine += arguments;
    }
    return commandLine;
}

std::wstring MsiLogPath(const std::wstring& statusFilePath) {
    return statusFilePath + L".msi.log";
}

std::wstring BuildInstallerParameters(bool isMsi, const std::wstring& packagePath,
                                      const std::wstring& installFolder,
                                      const std::wstring& msiLogPath) {
    if (!isMsi) {
        return L"/S /D=" + installFolder;
    }
    return L"/i " + QuoteArgument(packagePath) +
           L" /qn /norestart REBOOT=ReallySuppress MSIRESTARTMANAGERCONTROL=Disable "
           L"INSTALLFOLDER=" +
           QuoteArgument(installFolder) + L" /L*v " + QuoteArgument(msiLogPath);
}
