// Every driver-setup, device-installer and version call the backend makes
// goes through this one table, as Tavenor reaches the DIFx library through
// its entry-point table.  The shipped library fills it from the system's
// DLLs (platform.cpp); the tests' build fills the driver store's part with a
// stand-in written from Microsoft's documentation, where Wine has none.
#pragma once

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

struct PlatformCalls {
    // setupapi: staging and removing a package, where the store keeps it.
    BOOL(WINAPI* copy_oem_inf)(PCWSTR source, PCWSTR media, DWORD media_type, DWORD style, PWSTR destination,
                               DWORD size, PDWORD needed, PWSTR* component);
    BOOL(WINAPI* uninstall_oem_inf)(PCWSTR name, DWORD flags, PVOID reserved);
    // Null where the platform lacks it (Wine).
    BOOL(WINAPI* inf_driver_store_location)(PCWSTR name, PSP_ALTPLATFORM_INFO platform, PCWSTR locale,
                                            PWSTR location, DWORD size, PDWORD needed);
    BOOL(WINAPI* set_non_interactive_mode)(BOOL on);
    BOOL(WINAPI* get_non_interactive_mode)();

    // setupapi: the decorated models section of a [Manufacturer] line that
    // Windows reads.  Null where the platform lacks it (Wine).
    BOOL(WINAPI* actual_models_section)(PINFCONTEXT context, PSP_ALTPLATFORM_INFO platform, PWSTR section,
                                        DWORD size, PDWORD needed, PVOID reserved);

    // setupapi: the devices and their properties.
    HDEVINFO(WINAPI* get_class_devs)(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* enum_device_info)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* get_device_registry_property)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                               PDWORD type, PBYTE buffer, DWORD size, PDWORD needed);
    BOOL(WINAPI* get_device_instance_id)(HDEVINFO set, PSP_DEVINFO_DATA device, PWSTR id, DWORD size,
                                         PDWORD needed);
    HKEY(WINAPI* open_dev_reg_key)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile,
                                   DWORD key_type, REGSAM access);
    BOOL(WINAPI* destroy_device_info_list)(HDEVINFO set);
    // DIF_REMOVE: uninstalls a device, before Windows 10 1703; the install
    // parameters then say whether it needs a restart.
    BOOL(WINAPI* call_class_installer)(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* get_device_install_params)(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params);
    // cfgmgr32: whether a device runs its driver.
    CONFIGRET(WINAPI* devnode_status)(PULONG status, PULONG problem, DEVINST device, ULONG flags);

    // newdev: installing on devices; removing a package from its devices
    // and the store (Windows 10 1703 and later; null before).
    BOOL(WINAPI* update_driver)(HWND parent, LPCWSTR hardware_id, LPCWSTR inf, DWORD flags, PBOOL reboot);
    BOOL(WINAPI* uninstall_driver)(HWND parent, LPCWSTR inf, DWORD flags, PBOOL reboot);

    // ntdll and kernel32: the running Windows and its INF folder.
    LONG(WINAPI* get_version)(OSVERSIONINFOEXW* version);
    UINT(WINAPI* system_windows_directory)(LPWSTR buffer, UINT size);
    // The process's and the machine's architecture (Windows 10 1709 and
    // later; null before).
    BOOL(WINAPI* is_wow64_process2)(HANDLE process, USHORT* process_machine, USHORT* native_machine);
};

// The table, bound once per process.
const PlatformCalls& platform();
