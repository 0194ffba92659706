#include <QDebug>

#include <comdef.h>
#include <wbemidl.h>
#include <windows.h>

#include "platform/deviceinfo.h"

namespace Tavrix {
namespace DeviceInfo {

namespace {

constexpr long kQueryTimeoutMs = 10000;

// A failed COM call is logged with the system's text for its result and its description
// (as a warning: the log file takes every message, and the platform sits below the log).
void logComError(HRESULT result)
{
    const _com_error error(result);
    qWarning().noquote() << QString::fromWCharArray(error.ErrorMessage()).trimmed();
    const _bstr_t description = error.Description();
    qWarning().noquote() << (description.length() ? QString::fromWCharArray(static_cast<const wchar_t *>(description))
                                                  : QString());
}

QString readProperty(IWbemClassObject *object, const wchar_t *name)
{
    VARIANT value;
    VariantInit(&value);
    QString text = QStringLiteral("Unknown");
    const HRESULT result = object->Get(name, 0, &value, nullptr, nullptr);
    if (FAILED(result))
        logComError(result);
    else if (value.vt == VT_BSTR && value.bstrVal)
        text = QString::fromWCharArray(value.bstrVal);
    VariantClear(&value);
    return text;
}

ComputerSystem queryComputerSystem()
{
    ComputerSystem system;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool uninitialize = SUCCEEDED(init);

    IWbemLocator *locator = nullptr;
    IWbemServices *services = nullptr;
    IEnumWbemClassObject *enumerator = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void **>(&locator));
    if (FAILED(result)) {
        logComError(result);
    } else {
        result =
            locator->ConnectServer(_bstr_t(L"ROOT\\CIMV2"), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
        if (FAILED(result)) {
            logComError(result);
        } else {
            CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
            result = services->ExecQuery(_bstr_t(L"WQL"), _bstr_t(L"SELECT * FROM Win32_ComputerSystem"),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &enumerator);
            if (FAILED(result)) {
                logComError(result);
            } else {
                IWbemClassObject *object = nullptr;
                ULONG returned = 0;
                // WMI can stall for minutes on a sick machine; the caller may be the GUI thread.
                if (SUCCEEDED(enumerator->Next(kQueryTimeoutMs, 1, &object, &returned)) && returned == 1) {
                    system.manufacturer = readProperty(object, L"Manufacturer");
                    system.model = readProperty(object, L"Model");
                    object->Release();
                }
            }
        }
    }
    if (enumerator)
        enumerator->Release();
    if (services)
        services->Release();
    if (locator)
        locator->Release();
    if (uninitialize)
        CoUninitialize();
    return system;
}

} // namespace

ComputerSystem computerSystem()
{
    static const ComputerSystem system = queryComputerSystem();
    return system;
}

} // namespace DeviceInfo
} // namespace Tavrix
