// The platform's own functions behind the backend's table.  DiUninstallDriverW
// (Windows 10 1703 and later), SetupGetInfDriverStoreLocationW,
// SetupDiGetActualModelsSectionW (missing in Wine) and IsWow64Process2
// (Windows 10 1709 and later) are looked up at run time; the rest every
// supported Windows has.
#include "backend/platform.h"

#include <newdev.h>

namespace {

template <typename Function>
Function look_up(const wchar_t* module, const char* name)
{
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr)
        handle = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (handle == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

PlatformCalls bind()
{
    PlatformCalls calls = {};
    calls.copy_oem_inf = SetupCopyOEMInfW;
    calls.uninstall_oem_inf = SetupUninstallOEMInfW;
    calls.inf_driver_store_location =
        look_up<decltype(calls.inf_driver_store_location)>(L"setupapi.dll", "SetupGetInfDriverStoreLocationW");
    calls.set_non_interactive_mode = SetupSetNonInteractiveMode;
    calls.get_non_interactive_mode = SetupGetNonInteractiveMode;
    calls.get_class_devs = SetupDiGetClassDevsW;
    calls.enum_device_info = SetupDiEnumDeviceInfo;
    calls.get_device_registry_property = SetupDiGetDeviceRegistryPropertyW;
    calls.get_device_instance_id = SetupDiGetDeviceInstanceIdW;
    calls.open_dev_reg_key = SetupDiOpenDevRegKey;
    calls.destroy_device_info_list = SetupDiDestroyDeviceInfoList;
    calls.actual_models_section =
        look_up<decltype(calls.actual_models_section)>(L"setupapi.dll", "SetupDiGetActualModelsSectionW");
    calls.call_class_installer = SetupDiCallClassInstaller;
    calls.get_device_install_params = SetupDiGetDeviceInstallParamsW;
    calls.devnode_status = CM_Get_DevNode_Status;
    calls.update_driver = UpdateDriverForPlugAndPlayDevicesW;
    calls.uninstall_driver = look_up<decltype(calls.uninstall_driver)>(L"newdev.dll", "DiUninstallDriverW");
    calls.get_version = look_up<decltype(calls.get_version)>(L"ntdll.dll", "RtlGetVersion");
    calls.system_windows_directory = GetSystemWindowsDirectoryW;
    calls.is_wow64_process2 = look_up<decltype(calls.is_wow64_process2)>(L"kernel32.dll", "IsWow64Process2");
    return calls;
}

} // namespace

const PlatformCalls& platform()
{
    static const PlatformCalls calls = bind();
    return calls;
}
