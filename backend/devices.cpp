// Devices are walked through the platform table's setup functions.
#include "backend/devices.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include "backend/backend_log.h"
#include "backend/platform.h"

namespace {

// A device instance ID's longest text and its NUL.
constexpr DWORD device_instance_id_max = 200;

std::vector<std::wstring> multi_sz(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    std::vector<std::wstring> out;
    std::vector<wchar_t> value(4096, L'\0');
    if (!platform().get_device_registry_property(set, device, property, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                                 static_cast<DWORD>((value.size() - 2) * sizeof(wchar_t)), nullptr))
        return out;
    for (const wchar_t* p = value.data(); *p != L'\0'; p += wcslen(p) + 1)
        out.push_back(p);
    return out;
}

std::wstring device_driver_inf(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    HKEY key = platform().open_dev_reg_key(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring out = registry_text(key, L"InfPath");
    RegCloseKey(key);
    return out;
}

std::wstring instance_id(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    wchar_t id[device_instance_id_max] = L"";
    platform().get_device_instance_id(set, device, id, device_instance_id_max, nullptr);
    return id;
}

// Calls visit(set, device) for every device, or every present one.
template <typename Visit>
void for_each_device(bool present_only, Visit visit)
{
    DWORD flags = DIGCF_ALLCLASSES | (present_only ? DIGCF_PRESENT : 0);
    HDEVINFO set = platform().get_class_devs(nullptr, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; platform().enum_device_info(set, i, &device); ++i)
        visit(set, &device);
    platform().destroy_device_info_list(set);
}

} // namespace

std::wstring registry_text(HKEY key, const wchar_t* name)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof value - sizeof(wchar_t);  // the last character stays NUL
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return value;
}

std::vector<Target> present_targets(const std::vector<std::wstring>& ids)
{
    std::vector<Target> targets;
    for_each_device(true, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        std::vector<std::wstring> own = multi_sz(set, device, SPDRP_HARDWAREID);
        std::vector<std::wstring> compatible = multi_sz(set, device, SPDRP_COMPATIBLEIDS);
        own.insert(own.end(), compatible.begin(), compatible.end());
        for (const std::wstring& candidate : own) {
            bool named = false;
            for (const std::wstring& id : ids)
                named = named || same_text(id, candidate);
            if (named) {
                targets.push_back({instance_id(set, device), candidate});
                break;
            }
        }
    });
    return targets;
}

DeviceDriver driver_of(const std::wstring& instance)
{
    DeviceDriver driver = {std::wstring(), false};
    bool found = false;
    for_each_device(true, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        if (found || !same_text(instance_id(set, device), instance))
            return;
        found = true;
        driver.inf = device_driver_inf(set, device);
        // CM_Get_DevNode_Status (learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_get_devnode_status):
        // a device that runs its driver is started (DN_STARTED) with no
        // problem (DN_HAS_PROBLEM).
        ULONG status = 0, problem = 0;
        driver.working = !driver.inf.empty() &&
                         platform().devnode_status(&status, &problem, device->DevInst, 0) == CR_SUCCESS &&
                         (status & DN_STARTED) && !(status & DN_HAS_PROBLEM);
    });
    return driver;
}

std::vector<std::wstring> devices_using(const std::wstring& staged, bool present_only)
{
    std::vector<std::wstring> users;
    if (staged.empty())
        return users;
    for_each_device(present_only, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        if (same_text(device_driver_inf(set, device), staged))
            users.push_back(instance_id(set, device));
    });
    return users;
}

DWORD uninstall_devices_using(const std::wstring& staged, bool* reboot_needed)
{
    if (staged.empty())
        return ERROR_SUCCESS;
    // One device per walk: an uninstalled device may leave the list it was
    // found in, which would make the walk skip the next one.  A device met
    // again after its uninstall "succeeded" ends the loop as a failure.
    std::vector<std::wstring> done;
    for (;;) {
        DWORD result = ERROR_SUCCESS;
        bool found = false;
        for_each_device(false, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
            if (found || !same_text(device_driver_inf(set, device), staged))
                return;
            found = true;
            std::wstring instance = instance_id(set, device);
            for (const std::wstring& earlier : done) {
                if (same_text(earlier, instance))
                    result = ERROR_INF_IN_USE_BY_DEVICES;
            }
            if (result != ERROR_SUCCESS) {
                report(difx_log_error, result, "device %s still uses %s after its uninstall", narrow(instance).c_str(),
                       narrow(staged).c_str());
                return;
            }
            if (!platform().call_class_installer(DIF_REMOVE, set, device)) {
                result = GetLastError();
                report(difx_log_error, result, "uninstalling device %s failed", narrow(instance).c_str());
                return;
            }
            done.push_back(instance);
            SP_DEVINSTALL_PARAMS_W params = {};
            params.cbSize = sizeof params;
            if (platform().get_device_install_params(set, device, &params) &&
                (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)))
                *reboot_needed = true;
            report(difx_log_info, 0, "uninstalled device %s, which used %s", narrow(instance).c_str(),
                   narrow(staged).c_str());
        });
        if (!found || result != ERROR_SUCCESS)
            return result;
    }
}
