#include <QDir>

// windows.h first: shellapi.h builds on its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "platform/elevatedstart.h"

namespace Tavrix {
namespace ElevatedStart {

bool hasNetworkRights()
{
    BOOL elevated = FALSE;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        TOKEN_ELEVATION elevation{};
        DWORD size = sizeof elevation;
        if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
            elevated = elevation.TokenIsElevated;
        CloseHandle(token);
    }
    return elevated != FALSE;
}

Result start(const QString &program, const QStringList &arguments, const QString &outputFile, int idleWaitMs)
{
    // ShellExecuteExW cannot redirect the program's output.
    Q_UNUSED(outputFile)
    Result result;
    const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
    const std::wstring parameters = arguments.join(QLatin1Char(' ')).toStdWString();

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        result.errorCode = long(GetLastError());
        return result;
    }
    result.started = true;
    if (info.hProcess) {
        WaitForInputIdle(info.hProcess, DWORD(idleWaitMs));
        result.pid = qint64(GetProcessId(info.hProcess));
        CloseHandle(info.hProcess);
    }
    return result;
}

} // namespace ElevatedStart
} // namespace Tavrix
